#include "ShadingTestSupport.h"

#include "GlTestContext.h"

#include <GL/glew.h>
#include <GL/glu.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempWorkDir::TempWorkDir()
{
    char pattern[] = "/tmp/velmora-shading-XXXXXX";
    const char* created = mkdtemp(pattern);
    if (created == nullptr) {
        ADD_FAILURE() << "cannot create a temporary directory";
        return;
    }
    path = created;
    previous = std::filesystem::current_path().string();
    std::filesystem::current_path(path);
}

TempWorkDir::~TempWorkDir()
{
    if (path.empty())
        return;
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void CopyShaderFile(const std::string& name)
{
    std::filesystem::copy_file(std::string(VELMORA_DATA_DIR) + "/" + name, name,
                               std::filesystem::copy_options::overwrite_existing);
}

void WriteTextFile(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

std::string ReadTextFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& name) { return std::filesystem::exists(name); }

void DrawRect(float x0, float y0, float x1, float y1)
{
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

void SetPixelProjection(int width, int height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, width, 0, height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    CreateGlTestContext();
    return RUN_ALL_TESTS();
}
