// Prints whether the driver offers each extension the viewer requires, in the viewer's order, as 0 or 1.
#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>

int main(int argc, char** argv)
{
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("probe");
    glewInit();
    std::printf("probe %d %d %d\n", GLEW_ARB_vertex_buffer_object ? 1 : 0, GLEW_EXT_framebuffer_object ? 1 : 0,
                GLEW_NV_texture_rectangle ? 1 : 0);
    return 0;
}
