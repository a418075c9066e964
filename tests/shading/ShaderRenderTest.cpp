// The real shader files drawing: lighting, shadows through a cube map, the post-processing quad.
#include "GlTestContext.h"
#include "ShadingTestSupport.h"
#include "Shaders.h"

#include <GL/glew.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// The render vertex layout: position, u v, tangent, bitangent, triangle normal.
struct Vertex {
    float position[3];
    float uv[2];
    float tangent[3];
    float bitangent[3];
    float normal[3];
};

// A horizontal square at height z facing +Z (counter-clockwise seen from above).
void AddSquare(std::vector<Vertex>& vertices, float x0, float y0, float x1, float y1, float z)
{
    const float corners[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    for (const auto& c : corners)
        vertices.push_back({{c[0], c[1], z}, {0.5f, 0.5f}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
}

void DrawSquares(const std::vector<Vertex>& vertices)
{
    const GLsizei stride = sizeof(Vertex);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, vertices[0].position);
    const float* sets[4] = {vertices[0].uv, vertices[0].tangent, vertices[0].bitangent, vertices[0].normal};
    for (int unit = 0; unit < 4; ++unit) {
        glClientActiveTexture(GL_TEXTURE0 + unit);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(unit == 0 ? 2 : 3, GL_FLOAT, stride, sets[unit]);
    }
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(vertices.size()));
    for (int unit = 0; unit < 4; ++unit) {
        glClientActiveTexture(GL_TEXTURE0 + unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glClientActiveTexture(GL_TEXTURE0);
    glDisableClientState(GL_VERTEX_ARRAY);
}

GLuint MakeTexture(GLenum target, GLint internalFormat, int width, int height, GLenum format, GLenum type,
                   const void* pixels, GLint filter)
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(target, texture);
    if (target == GL_TEXTURE_1D)
        glTexImage1D(target, 0, internalFormat, width, 0, format, type, pixels);
    else
        glTexImage2D(target, 0, internalFormat, width, height, 0, format, type, pixels);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(target, 0);
    return texture;
}

GLuint MakeAttenuationTexture()
{
    const double k = static_cast<float>(1.0 / 255.0);
    std::vector<float> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<float>(1.0 - (i * k) * (i * k));
    return MakeTexture(GL_TEXTURE_1D, 1, 256, 1, GL_LUMINANCE, GL_FLOAT, table.data(), GL_LINEAR);
}

// Renders the six 512 x 512 faces of a light's cube with shadow.cg, oriented as the GL cube-map faces.
void RenderShadowCube(ShaderPairs& pairs, GLuint cube, const double light[3], double radius,
                      const std::vector<Vertex>& scene)
{
    struct Rotation {
        float angle, x, y, z;
    };
    const Rotation faces[6][2] = {{{180, 1, 0, 0}, {90, 1, 0, 0}}, {{90, 1, 0, 0}, {180, 0, 0, 1}},
                                  {{-90, 0, 0, 1}, {0, 0, 0, 1}},  {{90, 0, 0, 1}, {180, 0, 1, 0}},
                                  {{90, 0, 1, 0}, {-90, 0, 0, 1}}, {{-90, 0, 1, 0}, {90, 0, 0, 1}}};
    GLuint framebuffer = 0;
    GLuint depth = 0;
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, 512, 512);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);

    glViewport(0, 0, 512, 512);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90, 1, 0.001, 10000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(-90, 1, 0, 0);
    glRotatef(90, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glClearColor(0.25f, 0.25f, 0.25f, 1);

    pairs.shadowShader.Bind();
    cgGLSetParameter4d(pairs.shadowShader.GetVertexParameter("light"), light[0], light[1], light[2], radius);
    for (int f = 0; f < 6; ++f) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_CUBE_MAP_POSITIVE_X + f, cube, 0);
        glPushMatrix();
        for (const Rotation& r : faces[f])
            glRotatef(r.angle, r.x, r.y, r.z);
        glTranslated(-light[0], -light[1], -light[2]);
        SetModelViewProjParameter(pairs.parameters.shadowModelViewProj);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        DrawSquares(scene);
        glPopMatrix();
    }
    pairs.shadowShader.Unbind();

    glDisable(GL_CULL_FACE);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &depth);
}

constexpr int viewSize = 200;
constexpr float viewHalfWidth = 20;  // level units from the centre to the edge of the view

// World x or y of the centre of pixel p of the top-down view.
float WorldOfPixel(int p) { return -viewHalfWidth + (p + 0.5f) * (2 * viewHalfWidth / viewSize); }

class LightingTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* file : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
            CopyShaderFile(file);
        testing::internal::CaptureStdout();
        LoadShaders(*pairs);
        ASSERT_EQ(testing::internal::GetCapturedStdout(), "");

        const unsigned char whiteNoSpecular[4] = {255, 255, 255, 0};
        const unsigned char flatNormal[4] = {128, 128, 255, 255};
        diffuse = MakeTexture(GL_TEXTURE_2D, GL_RGBA8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, whiteNoSpecular, GL_NEAREST);
        normals = MakeTexture(GL_TEXTURE_2D, GL_RGBA8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, flatNormal, GL_NEAREST);
        attenuation = MakeAttenuationTexture();
        cube = 0;
        glGenTextures(1, &cube);
        glBindTexture(GL_TEXTURE_CUBE_MAP, cube);
        for (int f = 0; f < 6; ++f)
            glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f, 0, GL_RGBA8, 512, 512, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         nullptr);
        glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glBindTexture(GL_TEXTURE_CUBE_MAP, 0);
    }

    void TearDown() override
    {
        const GLuint textures[4] = {diffuse, normals, attenuation, cube};
        glDeleteTextures(4, textures);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_BLEND);
        glDepthMask(GL_TRUE);
        glDepthFunc(GL_LESS);
    }

    // Top-down view of the floor: depth pre-pass with ambient.cg, then one light pass with shader.cg under
    // the GL_EQUAL depth test, as the frame draws them. The clear colour is blue, which no light pass gives.
    void DrawLitFloor(const double light[3], double radius, const std::vector<Vertex>& floor)
    {
        glViewport(0, 0, viewSize, viewSize);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-viewHalfWidth, viewHalfWidth, -viewHalfWidth, viewHalfWidth, -100, 100);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        SetModelViewProjParameter(pairs->parameters.lightModelViewProj);
        SetModelViewProjParameter(pairs->parameters.ambientModelViewProj);
        const double eye[3] = {0, 0, 50};
        cgGLSetParameter3dv(pairs->lightShader.GetVertexParameter("EyeVector"), eye);

        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
        pairs->ambientShader.Bind();
        DrawSquares(floor);
        pairs->ambientShader.Unbind();
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

        pairs->lightShader.Bind();
        SetTextureParameter(pairs->parameters.attenuationTex, attenuation);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ZERO);
        glDepthMask(GL_FALSE);
        glDepthFunc(GL_EQUAL);
        cgGLSetParameter4d(pairs->lightShader.GetVertexParameter("LightVector"), light[0], light[1], light[2], radius);
        const double white[3] = {1, 1, 1};
        cgGLSetParameter3dv(pairs->lightShader.GetVertexParameter("LightColor"), white);
        SetTextureParameter(pairs->parameters.shadowMap, cube);
        SetTextureParameter(pairs->parameters.diffuseSpecTex, diffuse);
        SetTextureParameter(pairs->parameters.normalTex, normals);
        DrawSquares(floor);
        pairs->lightShader.Unbind();
    }

    // Brightness of a white, flat floor point lit from above at the light: Lambert times the 1 - x^2 fall-off.
    static double ExpectedLit(const double light[3], double radius, float x, float y)
    {
        double dx = x - light[0], dy = y - light[1], dz = -light[2];
        double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
        double fraction = std::min(distance / radius, 1.0);
        return 255 * (1 - fraction * fraction) * (-dz / distance);
    }

    TempWorkDir workDir;
    std::unique_ptr<ShaderPairs> pairs = CreateShaderPairs();
    GLuint diffuse = 0, normals = 0, attenuation = 0, cube = 0;
};

TEST_F(LightingTest, FloorIsBrightUnderTheLightAndDarkBeyondItsRadius)
{
    std::vector<Vertex> floor;
    AddSquare(floor, -20, -20, 20, 20, 0);
    const double light[3] = {-8, 0, 4};
    const double radius = 20;
    RenderShadowCube(*pairs, cube, light, radius, floor);
    DrawLitFloor(light, radius, floor);

    const int underLight = 59;  // world x -8.1
    const int farAway = 189;    // world x 17.9, 26.2 units from the light
    Rgb bright = ReadPixel(underLight, viewSize / 2);
    Rgb middle = ReadPixel(viewSize / 2, viewSize / 2);
    Rgb dark = ReadPixel(farAway, viewSize / 2);
    EXPECT_GT(bright.r, 200);
    EXPECT_EQ(bright.b, bright.r) << "white light on a white floor stays grey";
    EXPECT_GT(bright.r, middle.r + 40);
    EXPECT_LE(dark.r, 2);
    EXPECT_LE(dark.b, 2) << "the pre-pass depth must match the light pass exactly";
}

TEST_F(LightingTest, OccludersDarkenTheFloorBehindThemWithoutAcneElsewhere)
{
    std::vector<Vertex> floor;
    AddSquare(floor, -20, -20, 20, 20, 0);
    const double light[3] = {0, 0, 10};
    const double radius = 40;

    // Small squares below the light, placed off-centre in the cube faces -Z, +X and -Y, so that a face drawn
    // mirrored or turned would put their shadows in the wrong place.
    struct Square {
        float x0, y0, x1, y1, z;
    };
    const Square occluders[] = {{1, -2, 4, 2, 5}, {8, 1, 10, 3, 4}, {2, -10, 4, -8, 4}};
    std::vector<Vertex> scene = floor;
    std::vector<Square> shadows;
    for (const Square& o : occluders) {
        AddSquare(scene, o.x0, o.y0, o.x1, o.y1, o.z);
        float scale = static_cast<float>(light[2] / (light[2] - o.z));
        shadows.push_back({o.x0 * scale, o.y0 * scale, o.x1 * scale, o.y1 * scale, 0});
    }
    RenderShadowCube(*pairs, cube, light, radius, scene);
    DrawLitFloor(light, radius, floor);

    std::vector<int> shadowedPerOccluder(shadows.size(), 0);
    for (int py = 2; py < viewSize; py += 5) {
        for (int px = 2; px < viewSize; px += 5) {
            float x = WorldOfPixel(px), y = WorldOfPixel(py);
            double expected = ExpectedLit(light, radius, x, y);
            Rgb pixel = ReadPixel(px, py);
            bool nearEdge = false;
            bool inShadow = false;
            for (std::size_t i = 0; i < shadows.size(); ++i) {
                const Square& s = shadows[i];
                const float margin = 0.5f;
                bool inside = x > s.x0 + margin && x < s.x1 - margin && y > s.y0 + margin && y < s.y1 - margin;
                bool outside = x < s.x0 - margin || x > s.x1 + margin || y < s.y0 - margin || y > s.y1 + margin;
                nearEdge = nearEdge || (!inside && !outside);
                if (inside) {
                    inShadow = true;
                    ++shadowedPerOccluder[i];
                }
            }
            if (inShadow) {
                EXPECT_LT(pixel.r, expected * 0.25) << "shadowed at " << x << ", " << y;
            } else if (!nearEdge) {
                EXPECT_NEAR(pixel.r, expected, 12 + 0.1 * expected) << "lit at " << x << ", " << y;
            }
        }
    }
    for (int count : shadowedPerOccluder)
        EXPECT_GT(count, 0);
}

TEST_F(LightingTest, NormalMapTiltsTheSurfaceInTangentSpace)
{
    // Tangent-space normal (1, 0, 1) / sqrt(2); the floor's tangent is +X and its bitangent +Y.
    const unsigned char tiltedTowardsX[4] = {218, 128, 218, 255};
    glBindTexture(GL_TEXTURE_2D, normals);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, tiltedTowardsX);
    glBindTexture(GL_TEXTURE_2D, 0);
    std::vector<Vertex> floor;
    AddSquare(floor, -20, -20, 20, 20, 0);

    // The same point lit from the side the normal leans to, from across it, and from the bitangent side.
    const double lights[3][3] = {{6, 0, 4}, {0, 6, 4}, {-6, 0, 4}};
    int brightness[3];
    for (int i = 0; i < 3; ++i) {
        RenderShadowCube(*pairs, cube, lights[i], 20, floor);
        DrawLitFloor(lights[i], 20, floor);
        brightness[i] = ReadPixel(viewSize / 2, viewSize / 2).r;
    }
    EXPECT_GT(brightness[0], brightness[1] + 60);
    EXPECT_GT(brightness[1], brightness[2] + 40);
}

// The post pass over a viewport of size x size, as the frame draws it: unit 0 in pixels, unit 1 from 0 to 1.
void DrawPostQuad(ShaderPairs& pairs, int size, GLuint scene, GLuint warp, GLuint ramp, float time)
{
    SetPixelProjection(size, size);
    pairs.postShader.Bind();
    SetTextureParameter(pairs.parameters.postFramebuffer, scene);
    SetTextureParameter(pairs.parameters.postWarpTex, warp);
    SetTextureParameter(pairs.parameters.postRampTex, ramp);
    cgGLSetParameter1f(pairs.postShader.GetFragmentParameter("time"), time);
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    glBegin(GL_QUADS);
    for (const auto& c : corners) {
        glMultiTexCoord2f(GL_TEXTURE0, c[0] * size, c[1] * size);
        glMultiTexCoord2f(GL_TEXTURE1, c[0], c[1]);
        glVertex2f(c[0] * size, c[1] * size);
    }
    glEnd();
    pairs.postShader.Unbind();
}

class PostTest : public LightingTest {};

TEST_F(PostTest, NeutralRampKeepsColoursAndTheWarpStaysWithinTwoPixels)
{
    const int size = 64;
    std::vector<unsigned char> ramp(256 * 3);
    for (int i = 0; i < 256 * 3; ++i)
        ramp[i] = static_cast<unsigned char>(i / 3);
    GLuint rampTexture = MakeTexture(GL_TEXTURE_2D, GL_RGB8, 256, 1, GL_RGB, GL_UNSIGNED_BYTE, ramp.data(), GL_LINEAR);

    // Red rises by 3 levels per pixel; green and blue are flat.
    std::vector<unsigned char> scene(size * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            unsigned char* p = &scene[(y * size + x) * 4];
            p[0] = static_cast<unsigned char>(40 + 3 * x);
            p[1] = 150;
            p[2] = 200;
            p[3] = 255;
        }
    }
    GLuint sceneTexture =
        MakeTexture(GL_TEXTURE_RECTANGLE, GL_RGBA8, size, size, GL_RGBA, GL_UNSIGNED_BYTE, scene.data(), GL_NEAREST);

    const unsigned char noOffset[3] = {128, 128, 128};
    const unsigned char fullOffset[3] = {255, 255, 255};
    for (const unsigned char* warp : {noOffset, fullOffset}) {
        GLuint warpTexture = MakeTexture(GL_TEXTURE_2D, GL_RGB8, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, warp, GL_LINEAR);
        DrawPostQuad(*pairs, size, sceneTexture, warpTexture, rampTexture, 3.5f);
        const int x = 30;
        Rgb pixel = ReadPixel(x, 20);
        EXPECT_NEAR(pixel.g, 150, 3);
        EXPECT_NEAR(pixel.b, 200, 3);
        double shiftPixels = (pixel.r - (40 + 3 * x)) / 3.0;
        if (warp == noOffset) {
            EXPECT_NEAR(shiftPixels, 0, 1);
        } else {
            EXPECT_TRUE(shiftPixels > 0.5 && shiftPixels <= 2.2) << shiftPixels;
        }
        glDeleteTextures(1, &warpTexture);
    }
    glDeleteTextures(1, &sceneTexture);
    glDeleteTextures(1, &rampTexture);
}

}  // namespace
