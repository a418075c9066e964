// The probes behind the frame's short cuts. Each runs the loaded programs through the real driver on a small
// off-screen target and compares what they wrote with what the short cut takes for granted. A probe decides from
// samples: what each proves, and what it assumes beyond its samples, is said at the probe. Every input a program
// can see is varied: positions, texture coordinates, tangents, bitangents and normals (unit, long, zero), the
// level's own textures, the attenuation texture, shadow cube maps of several contents, light colours above 1,
// radii from below 1 to 40000, eyes on both sides. The post program's clock is not probed: its short cut rests on
// the program's text alone.
#include "ShortCuts.h"

#include "GlState.h"
#include "RenderGeometry.h"
#include "Shaders.h"
#include "View.h"

#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace {

// [SECTION] Probe targets and drawing

constexpr int kTile = 16;         // pixels per side of one probe configuration's tile
constexpr int kTilesPerSide = 8;  // 64 configurations per target fill
constexpr int kTargetSize = kTile * kTilesPerSide;

// Written where no fragment arrives; a program would have to write exactly these four values to hide a hole.
constexpr float kUnwritten = -7.25f;

// Colour (RGBA32F, so that exact zero means zero, or RGBA8 as the cube faces store it), depth and stencil.
struct ProbeTarget {
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depthStencil = 0;
};

ProbeTarget CreateProbeTarget(GLenum colourFormat)
{
    ProbeTarget target;
    glGenFramebuffersEXT(1, &target.framebuffer);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, target.framebuffer);
    glGenRenderbuffersEXT(1, &target.colour);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, target.colour);
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, colourFormat, kTargetSize, kTargetSize);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, target.colour);
    glGenRenderbuffersEXT(1, &target.depthStencil);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, target.depthStencil);
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH24_STENCIL8_EXT, kTargetSize, kTargetSize);
    for (GLenum attachment : {GL_DEPTH_ATTACHMENT_EXT, GL_STENCIL_ATTACHMENT_EXT})
        glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, attachment, GL_RENDERBUFFER_EXT, target.depthStencil);
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    return target;
}

void UseProbeTarget(const ProbeTarget& target)
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, target.framebuffer);
    glViewport(0, 0, kTargetSize, kTargetSize);
}

void DeleteProbeTarget(ProbeTarget& target)
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glDeleteFramebuffersEXT(1, &target.framebuffer);
    glDeleteRenderbuffersEXT(1, &target.colour);
    glDeleteRenderbuffersEXT(1, &target.depthStencil);
}

std::vector<float> ReadColour()
{
    std::vector<float> pixels(size_t(kTargetSize) * kTargetSize * 4);
    glReadPixels(0, 0, kTargetSize, kTargetSize, GL_RGBA, GL_FLOAT, pixels.data());
    return pixels;
}

// Depth and stencil of every pixel, side by side.
std::vector<GLuint> ReadDepthAndStencil()
{
    const size_t count = size_t(kTargetSize) * kTargetSize;
    std::vector<GLuint> values(count * 2);
    glReadPixels(0, 0, kTargetSize, kTargetSize, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, values.data());
    std::vector<unsigned char> stencil(count);
    glReadPixels(0, 0, kTargetSize, kTargetSize, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, stencil.data());
    for (size_t i = 0; i < count; ++i)
        values[count + i] = stencil[i];
    return values;
}

void ClearTarget(float r, float g, float b, float a)
{
    glClearColor(r, g, b, a);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// The triangles through the streams that the passes feed: position, then sets 0 to 3 (u v, tangent, bitangent,
// normal).
void DrawTriangles(const std::vector<RenderVertex>& vertices)
{
    glBegin(GL_TRIANGLES);
    for (const RenderVertex& v : vertices) {
        glMultiTexCoord2fvARB(GL_TEXTURE0_ARB, v.texCoord);
        glMultiTexCoord3fvARB(GL_TEXTURE1_ARB, v.tangent);
        glMultiTexCoord3fvARB(GL_TEXTURE2_ARB, v.bitangent);
        glMultiTexCoord3fvARB(GL_TEXTURE3_ARB, v.normal);
        glVertex3fv(v.position);
    }
    glEnd();
}

// A fixed sequence of pseudo-random numbers, so that every load probes the same samples.
struct Samples {
    uint32_t state = 12345u;
    double Next()  // in [0, 1)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) * (1.0 / 16777216.0);
    }
    double Between(double low, double high) { return low + (high - low) * Next(); }
    // A multiple of 1/4 in [-limit, limit]: products with the probe matrices' entries are exact in floats.
    float Quarter(int limit) { return static_cast<float>(std::floor(Between(-4.0 * limit, 4.0 * limit + 1)) / 4.0); }
};

// Texture coordinates, tangents, bitangents and normals of every kind the streams carry: unit vectors, long ones
// and zero ones (degenerate texture mappings), and u, v over several repeats of the textures.
void FillAttributes(RenderVertex& v, Samples& samples)
{
    v.texCoord[0] = static_cast<float>(samples.Between(-3, 3));
    v.texCoord[1] = static_cast<float>(samples.Between(-3, 3));
    for (float* vector : {v.tangent, v.bitangent, v.normal}) {
        const double kind = samples.Next();
        const double scale = kind < 0.15 ? 0.0 : kind < 0.3 ? 4.0 : 1.0;
        double d[3];
        double length = 0.0;
        for (double& c : d) {
            c = samples.Between(-1, 1);
            length += c * c;
        }
        length = std::sqrt(std::max(length, 1e-12));
        for (int k = 0; k < 3; ++k)
            vector[k] = static_cast<float>(d[k] / length * scale);
    }
}

// What the probes run: the loaded pairs, with the level's materials from the render geometry.
struct Probed {
    ShaderPairs& shaders;
    const RenderGeometry& geometry;
};

// [SECTION] Shader inputs

// The light pass's parameters for one probe configuration.
struct LightInputs {
    double light[4];  // position, radius
    double colour[3];
    double eye[3];
    GLuint diffuse;
    GLuint normalMap;
    GLuint shadowCube;
};

void SetLightInputs(const ShaderParameters& p, const LightInputs& in, GLuint attenuationTexture)
{
    SetModelViewProjParameter(p.lightModelViewProj);
    cgGLSetParameter4d(p.lightVector, in.light[0], in.light[1], in.light[2], in.light[3]);
    cgGLSetParameter3dv(p.lightColor, in.colour);
    cgGLSetParameter3dv(p.eyeVector, in.eye);
    SetTextureParameter(p.attenuationTex, attenuationTexture);
    SetTextureParameter(p.shadowMap, in.shadowCube);
    SetTextureParameter(p.diffuseSpecTex, in.diffuse);
    SetTextureParameter(p.normalTex, in.normalMap);
}

// A 4x4-texel cube map of one RGBA8 value, or of two values in a checker (texels of both side by side), read with
// nearest filtering as the shadow maps are.
GLuint CreateCube(const std::array<unsigned char, 4>& a, const std::array<unsigned char, 4>& b)
{
    GLuint cube = 0;
    glGenTextures(1, &cube);
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    unsigned char texels[4 * 4 * 4];
    for (int i = 0; i < 16; ++i)
        std::memcpy(texels + i * 4, ((i + i / 4) % 2 == 0 ? a : b).data(), 4);
    for (int f = 0; f < 6; ++f)
        glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f, 0, GL_RGBA8, 4, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    return cube;
}

// [SECTION] Placement: does a pair put vertices where ModelViewProj puts them?

// Probe matrices (projection; the modelview is the identity) whose entries are multiples of 1/16 no larger than
// 4: with positions that are multiples of 1/4 up to 16, every product and sum of mul(ModelViewProj, position) is
// exact in single precision, whatever the order of operations. So a program that computes that product writes the
// same clip position as fixed-function transformation, bit for bit, and the rasteriser gives both the same depth
// and coverage. An orthographic view, a perspective one, and one with the eye among the triangles, so that
// clipping against w = 0 is compared too.
const float kPlacementMatrices[3][16] = {
    {1.0f / 16, 0, 0, 0, 0, 1.0f / 16, 0, 0, 0, 0, 1.0f / 32, 0, 0, 0, 1.0f / 8, 1},
    {0.25f, -1.0f / 16, 0, 0, 1.0f / 16, 0.25f, 0, 0, 0, 0, 0.125f, -0.125f, 0, 0, 0, 3},
    {0, 0, 1.0f / 16, 0.125f, 0.125f, 0, 0, 0, 0, 0.125f, 0, 0, 0, 0, 0, 0.5f},
};

std::vector<RenderVertex> PlacementTriangles()
{
    Samples samples;
    std::vector<RenderVertex> vertices(3 * 96);
    for (RenderVertex& v : vertices) {
        for (float& c : v.position)
            c = samples.Quarter(16);
        FillAttributes(v, samples);
    }
    return vertices;
}

// Sets what every program of the pairs reads besides ModelViewProj, for the placement and coverage probes.
void SetPlacementInputs(const Probed& probed, GLuint attenuationTexture, GLuint cube)
{
    const std::array<GLuint, 2> material = LevelMaterials(probed.geometry).front();
    const LightInputs light{{3, -2, 5, 300}, {2, 1.5, 0.5}, {10, 4, -7}, material[0], material[1], cube};
    SetLightInputs(probed.shaders.parameters, light, attenuationTexture);
    SetModelViewProjParameter(probed.shaders.parameters.ambientModelViewProj);
    SetModelViewProjParameter(probed.shaders.parameters.shadowModelViewProj);
    cgGLSetParameter4d(probed.shaders.parameters.shadowLight, 1, 2, 3, 250);
}

// Proves, for the probe triangles and matrices: the pair's programs (its fragment program too, which could
// discard fragments or write depth) leave the same depth and stencil as fixed-function drawing. Assumes that a
// program which does so here computes ModelViewProj x position for every vertex; a displacement that vanishes on
// every probe vertex, or depends on inputs the probe holds fixed, goes unseen.
bool PlacesLikeModelViewProj(const Probed& probed, CGShader& pair, GLuint attenuationTexture, GLuint cube)
{
    const std::vector<RenderVertex> triangles = PlacementTriangles();
    for (const float* matrix : kPlacementMatrices) {
        std::vector<GLuint> drawn[2];
        for (int withPrograms = 0; withPrograms < 2; ++withPrograms) {
            ClearTarget(0, 0, 0, 0);
            glMatrixMode(GL_PROJECTION);
            glLoadMatrixf(matrix);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            if (withPrograms) {
                SetPlacementInputs(probed, attenuationTexture, cube);
                pair.Bind();
            }
            DrawTriangles(triangles);
            pair.Unbind();
            drawn[withPrograms] = ReadDepthAndStencil();
        }
        if (drawn[0] != drawn[1])
            return false;
    }
    return true;
}

// [SECTION] Coverage: does the light pass meet every pixel of the pre-pass?

// Proves, for overlapping probe triangles in a camera's view with coordinates of every precision: every pixel in
// which the pre-pass (ambient pair, GL_LEQUAL) wrote depth gets a fragment of the light pair under GL_EQUAL.
// Assumes the same of the level's triangles.
bool LightMeetsPrePass(const Probed& probed, GLuint attenuationTexture, GLuint cube)
{
    Samples samples;
    std::vector<RenderVertex> triangles(3 * 64);
    for (RenderVertex& v : triangles) {
        v.position[0] = static_cast<float>(samples.Between(20, 300));
        v.position[1] = static_cast<float>(samples.Between(-250, 250));
        v.position[2] = static_cast<float>(samples.Between(-200, 200));
        FillAttributes(v, samples);
    }
    Camera eye;
    eye.position = Vec3(-13.7, 2.9, 4.1);
    eye.angleZ = 7.3;
    eye.angleY = -3.1;
    const View view = CameraView(eye, kTargetSize, kTargetSize);
    LoadViewMatrices(view);
    ClearTarget(kUnwritten, kUnwritten, kUnwritten, kUnwritten);
    SetPlacementInputs(probed, attenuationTexture, cube);
    glDepthFunc(GL_LEQUAL);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glEnable(GL_STENCIL_TEST);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    probed.shaders.ambientShader.Bind();
    DrawTriangles(triangles);
    probed.shaders.ambientShader.Unbind();
    glDisable(GL_STENCIL_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_FALSE);
    glDepthFunc(GL_EQUAL);
    probed.shaders.lightShader.Bind();
    DrawTriangles(triangles);
    probed.shaders.lightShader.Unbind();
    glDepthMask(GL_TRUE);
    glDepthFunc(GL_LESS);
    const std::vector<float> colour = ReadColour();
    const std::vector<GLuint> depthAndStencil = ReadDepthAndStencil();
    const size_t count = size_t(kTargetSize) * kTargetSize;
    for (size_t i = 0; i < count; ++i) {
        const float* c = &colour[i * 4];
        const bool unwritten = c[0] == kUnwritten && c[1] == kUnwritten && c[2] == kUnwritten && c[3] == kUnwritten;
        if (depthAndStencil[count + i] != 0 && unwritten)
            return false;
    }
    return true;
}

// [SECTION] Fall-off: what does the light program write beyond the radius?

// One probe configuration: a square on the plane at distance factor x radius from the light, facing it along
// direction, seen head-on so that it fills its tile. Every point of the square is at least that far from the
// light, and so is every fragment, as far as the program interpolates what it computes from positions.
struct PlaneProbe {
    double factor;
    double halfSize;  // of the square, in radii
    Vec3 direction;
};

// The directions of the axes and of the cube's corners.
constexpr Vec3 kDirections[14] = {Vec3(1, 0, 0),  Vec3(-1, 0, 0),  Vec3(0, 1, 0),   Vec3(0, -1, 0),  Vec3(0, 0, 1),
                                  Vec3(0, 0, -1), Vec3(1, 1, 1),   Vec3(1, 1, -1),  Vec3(1, -1, 1),  Vec3(1, -1, -1),
                                  Vec3(-1, 1, 1), Vec3(-1, 1, -1), Vec3(-1, -1, 1), Vec3(-1, -1, -1)};

// Loads the projection that maps the square of probe, for a light at centre with radius, onto the viewport, and
// draws the square as a 4x4 grid of vertices reaching a little beyond its edges, so that the viewport is covered
// to its border. setInputs runs in between, to set parameters that read the projection.
template <class SetInputs>
void DrawPlane(const PlaneProbe& probe, const Vec3& centre, double radius, Samples& samples, SetInputs setInputs)
{
    Vec3 n = probe.direction;
    n.Normalize();
    Vec3 u = Cross(n, std::fabs(n.z) < 0.9 ? Vec3(0, 0, 1) : Vec3(1, 0, 0));
    u.Normalize();
    const Vec3 v = Cross(n, u);
    const double distance = probe.factor * radius;
    const Vec3 middle(centre.x + n.x * distance, centre.y + n.y * distance, centre.z + n.z * distance);
    const double half = probe.halfSize * radius;
    // clip x = u . (p - middle) / half, clip y = v . (p - middle) / half, clip z = 0, w = 1.
    const double rows[2][3] = {{u.x, u.y, u.z}, {v.x, v.y, v.z}};
    GlMatrix projection;
    projection.m[0] = projection.m[5] = projection.m[10] = 0.0f;
    for (int row = 0; row < 2; ++row) {
        const double* r = rows[row];
        for (int k = 0; k < 3; ++k)
            projection.m[k * 4 + row] = static_cast<float>(r[k] / half);
        projection.m[12 + row] = static_cast<float>(-(r[0] * middle.x + r[1] * middle.y + r[2] * middle.z) / half);
    }
    View view;
    view.projection = projection;
    LoadViewMatrices(view);
    setInputs();
    constexpr int kGrid = 4;
    RenderVertex grid[kGrid][kGrid];
    for (int i = 0; i < kGrid; ++i)
        for (int j = 0; j < kGrid; ++j) {
            const double s = (2.0 * i / (kGrid - 1) - 1.0) * 1.05 * half;
            const double t = (2.0 * j / (kGrid - 1) - 1.0) * 1.05 * half;
            RenderVertex& vertex = grid[i][j];
            vertex.position[0] = static_cast<float>(middle.x + u.x * s + v.x * t);
            vertex.position[1] = static_cast<float>(middle.y + u.y * s + v.y * t);
            vertex.position[2] = static_cast<float>(middle.z + u.z * s + v.z * t);
            FillAttributes(vertex, samples);
        }
    std::vector<RenderVertex> triangles;
    for (int i = 0; i + 1 < kGrid; ++i)
        for (int j = 0; j + 1 < kGrid; ++j)
            for (const RenderVertex* corner :
                 {&grid[i][j], &grid[i + 1][j], &grid[i + 1][j + 1], &grid[i][j], &grid[i + 1][j + 1], &grid[i][j + 1]})
                triangles.push_back(*corner);
    DrawTriangles(triangles);
}

// Light positions, radii (the probed range's ends and values between) and colours (above 1 in every channel, far
// apart between channels, negative) that the configurations pick from.
constexpr Vec3 kLightCentres[3] = {Vec3(0, 0, 0), Vec3(312.5, -77.25, 41), Vec3(-2048, 1024, -96)};
const double kRadii[6] = {kLowestProbedRadius, 0.75, 300, 717, 40000, kHighestProbedRadius};
const double kColours[4][3] = {{1, 1, 1}, {40, 0.2, 7}, {3.5, 3.5, 3.5}, {-2, 0.5, -0.1}};

template <class T, size_t n>
const T& Pick(const T (&table)[n], Samples& samples)
{
    return table[static_cast<size_t>(samples.Next() * n)];
}

// Draws 64 configurations of the light program, one per tile, for plane factors taken in turn from factors, with
// every other input varied across tiles; returns the target's colour.
std::vector<float> DrawLightTiles(const Probed& probed, std::initializer_list<double> factors,
                                  const std::vector<GLuint>& cubes, GLuint attenuationTexture, Samples& samples,
                                  int round)
{
    const std::vector<std::array<GLuint, 2>> materials = LevelMaterials(probed.geometry);
    ClearTarget(kUnwritten, kUnwritten, kUnwritten, kUnwritten);
    probed.shaders.lightShader.Bind();
    for (int tile = 0; tile < kTilesPerSide * kTilesPerSide; ++tile) {
        const int i = round * kTilesPerSide * kTilesPerSide + tile;
        glViewport((tile % kTilesPerSide) * kTile, (tile / kTilesPerSide) * kTile, kTile, kTile);
        const PlaneProbe probe{factors.begin()[i % factors.size()], i % 2 == 0 ? 0.5 : 8.0, Pick(kDirections, samples)};
        const Vec3& centre = Pick(kLightCentres, samples);
        const double radius = Pick(kRadii, samples);
        const double* colour = Pick(kColours, samples);
        Vec3 n = probe.direction;
        n.Normalize();
        // The eye in front of the square, behind it, or beside the light.
        const double eyeDistances[3] = {3.0, -2.0, 0.1};
        const double eyeDistance = Pick(eyeDistances, samples) * radius;
        LightInputs in{{centre.x, centre.y, centre.z, radius},
                       {colour[0], colour[1], colour[2]},
                       {centre.x + n.x * eyeDistance + 1.5, centre.y + n.y * eyeDistance, centre.z + n.z * eyeDistance},
                       materials[i % materials.size()][0],
                       materials[i % materials.size()][1],
                       cubes[static_cast<size_t>(samples.Next() * cubes.size())]};
        DrawPlane(probe, centre, radius, samples,
                  [&] { SetLightInputs(probed.shaders.parameters, in, attenuationTexture); });
    }
    probed.shaders.lightShader.Unbind();
    glViewport(0, 0, kTargetSize, kTargetSize);
    return ReadColour();
}

// Beyond the culling's reach (which adds 1e-3 of the radius), from just past it to far away.
constexpr std::initializer_list<double> kBeyondFactors = {1.0011, 1.003, 1.01, 1.05, 1.2, 1.5, 2, 4, 16, 256};
// Inside the sphere, the light itself included.
constexpr std::initializer_list<double> kInsideFactors = {0.0, 0.05, 0.3, 0.6, 0.9, 0.99, 0.999};

// Proves, for the probe configurations: the light program writes exactly (0, 0, 0, 1) at points beyond the
// radius, and alpha 1 inside it. Assumes both for every input, so that leaving a light's pass out beyond its
// sphere changes no pixel: (0, 0, 0, 1) added to a pixel whose alpha is 1 leaves it as it was, and the black that
// replaces the first light's pass there is that same value.
bool LightEndsAtRadius(const Probed& probed, GLuint attenuationTexture, const std::vector<GLuint>& cubes)
{
    Samples samples;
    for (int round = 0; round < 2; ++round) {
        const std::vector<float> beyond =
            DrawLightTiles(probed, kBeyondFactors, cubes, attenuationTexture, samples, round);
        for (size_t i = 0; i < beyond.size(); i += 4)
            if (beyond[i] != 0.0f || beyond[i + 1] != 0.0f || beyond[i + 2] != 0.0f || beyond[i + 3] != 1.0f)
                return false;
    }
    const std::vector<float> inside = DrawLightTiles(probed, kInsideFactors, cubes, attenuationTexture, samples, 0);
    for (size_t i = 3; i < inside.size(); i += 4)
        if (inside[i] != 1.0f)
            return false;
    return true;
}

// [SECTION] Shadow reach: do occluders beyond the radius matter?

using Texel = std::array<unsigned char, 4>;

// The RGBA8 values the shadow program writes for points beyond the radius, and the faces' clear value first.
// Empty when the program writes more than a few different values there (its output then depends on the point).
std::vector<Texel> ShadowTexelsBeyondRadius(const Probed& probed)
{
    constexpr size_t kMostValues = 4;
    ClearTarget(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]);
    Texel clear;
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, clear.data());
    Samples samples;
    probed.shaders.shadowShader.Bind();
    for (int tile = 0; tile < kTilesPerSide * kTilesPerSide; ++tile) {
        glViewport((tile % kTilesPerSide) * kTile, (tile / kTilesPerSide) * kTile, kTile, kTile);
        const PlaneProbe probe{kBeyondFactors.begin()[tile % kBeyondFactors.size()], tile % 2 == 0 ? 0.5 : 8.0,
                               Pick(kDirections, samples)};
        const Vec3& centre = Pick(kLightCentres, samples);
        const double radius = Pick(kRadii, samples);
        cgGLSetParameter4d(probed.shaders.parameters.shadowLight, centre.x, centre.y, centre.z, radius);
        DrawPlane(probe, centre, radius, samples,
                  [&] { SetModelViewProjParameter(probed.shaders.parameters.shadowModelViewProj); });
    }
    probed.shaders.shadowShader.Unbind();
    glViewport(0, 0, kTargetSize, kTargetSize);
    std::vector<Texel> pixels(size_t(kTargetSize) * kTargetSize);
    glReadPixels(0, 0, kTargetSize, kTargetSize, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    std::set<Texel> written(pixels.begin(), pixels.end());
    if (written.size() > kMostValues)
        return {};
    std::vector<Texel> texels = {clear};
    for (const Texel& t : written)
        if (t != clear)
            texels.push_back(t);
    return texels;
}

// Proves, for the probe configurations: the light program writes the same at points inside the radius whether
// the cube map holds the faces' clear value or what the shadow program writes beyond the radius, everywhere or
// in a checker with the clear value. Assumes the same for every cube map that differs from another only where
// the nearest occluder lies beyond the radius -- which is all that leaving those occluders out of the faces
// changes. With the fall-off probe, nothing beyond the radius is lit anyway.
bool ShadowsBeyondRadiusInvisible(const Probed& probed, GLuint attenuationTexture, GLuint clearCube,
                                  const std::vector<Texel>& texels)
{
    Samples reference;
    const std::vector<float> withClear =
        DrawLightTiles(probed, kInsideFactors, {clearCube}, attenuationTexture, reference, 0);
    for (size_t t = 1; t < texels.size(); ++t) {
        for (bool checker : {false, true}) {
            const GLuint cube = CreateCube(texels[t], checker ? texels[0] : texels[t]);
            Samples samples;
            const std::vector<float> with =
                DrawLightTiles(probed, kInsideFactors, {cube}, attenuationTexture, samples, 0);
            glDeleteTextures(1, &cube);
            if (std::memcmp(with.data(), withClear.data(), with.size() * sizeof(float)) != 0)
                return false;
        }
    }
    return true;
}

// [SECTION] Post pass

// Proves that the post program never discards a fragment (its compiled text has no discard, demotion, sample mask
// or depth output), so the quad, which covers every pixel and passes the depth test against the cleared depth,
// writes every pixel of the window. Without a program the fixed-function quad does the same.
bool PostWritesEveryPixel(const Probed& probed)
{
    if (probed.shaders.postShader.fragmentProgram == nullptr)
        return true;
    const char* text = cgGetProgramString(probed.shaders.postShader.fragmentProgram, CG_COMPILED_PROGRAM);
    if (text == nullptr)
        return false;
    const std::string program(text);
    for (const char* word : {"discard", "demote", "gl_SampleMask", "gl_FragDepth"})
        if (program.find(word) != std::string::npos)
            return false;
    return true;
}

}  // namespace

std::vector<std::array<GLuint, 2>> LevelMaterials(const RenderGeometry& geometry)
{
    std::vector<std::array<GLuint, 2>> materials;
    for (const DrawBatch& batch : geometry.batches)
        materials.push_back({batch.diffuseTexture, batch.normalMap});
    if (materials.empty())
        materials.push_back({0, 0});
    return materials;
}

bool SphereCulls(bool shortCut, double radius)
{
    return shortCut && radius >= kLowestProbedRadius && radius <= kHighestProbedRadius;
}

ShortCuts DecideShortCuts(ShaderPairs& shaders, const RenderGeometry& geometry, GLuint attenuationTexture)
{
    const Probed probed{shaders, geometry};
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glStencilFunc(GL_ALWAYS, 1, ~0u);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);

    const ShaderParameters& p = shaders.parameters;
    const std::vector<GLuint> cubes = {
        CreateCube({0, 0, 0, 0}, {0, 0, 0, 0}), CreateCube({255, 255, 255, 255}, {255, 255, 255, 255}),
        CreateCube({64, 64, 64, 255}, {0, 0, 0, 0}), CreateCube({200, 13, 90, 255}, {3, 250, 128, 0})};
    ShortCuts cuts;
    ProbeTarget exact = CreateProbeTarget(GL_RGBA32F_ARB);
    ProbeTarget faces = CreateProbeTarget(GL_RGBA8);
    UseProbeTarget(exact);
    glEnable(GL_STENCIL_TEST);
    cuts.cullPrePass = PlacesLikeModelViewProj(probed, shaders.ambientShader, attenuationTexture, cubes[2]);
    cuts.cullLightPasses = PlacesLikeModelViewProj(probed, shaders.lightShader, attenuationTexture, cubes[2]);
    cuts.cullShadowFaces = PlacesLikeModelViewProj(probed, shaders.shadowShader, attenuationTexture, cubes[2]);
    glDisable(GL_STENCIL_TEST);
    const bool lightEnds = cuts.cullLightPasses && PairLoaded(shaders.lightShader) && p.lightVector != nullptr &&
                           LightEndsAtRadius(probed, attenuationTexture, cubes);
    cuts.cullLightSpheres = lightEnds;
    cuts.cullFirstLight = lightEnds && cuts.cullPrePass && LightMeetsPrePass(probed, attenuationTexture, cubes[2]);
    if (lightEnds && cuts.cullShadowFaces && PairLoaded(shaders.shadowShader) && p.shadowLight != nullptr) {
        UseProbeTarget(faces);
        const std::vector<Texel> texels = ShadowTexelsBeyondRadius(probed);
        UseProbeTarget(exact);
        if (!texels.empty()) {
            const GLuint clearCube = CreateCube(texels[0], texels[0]);
            cuts.cullShadowSpheres = ShadowsBeyondRadiusInvisible(probed, attenuationTexture, clearCube, texels);
            glDeleteTextures(1, &clearCube);
        }
    }
    DeleteProbeTarget(exact);
    DeleteProbeTarget(faces);
    cuts.skipPostColourClear = PostWritesEveryPixel(probed);
    glDeleteTextures(static_cast<GLsizei>(cubes.size()), cubes.data());

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
    return cuts;
}
