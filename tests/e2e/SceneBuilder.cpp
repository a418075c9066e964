#include "SceneBuilder.h"

#include <IL/il.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

std::string Vector(Point p)
{
    char text[96];
    std::snprintf(text, sizeof text, "(%g %g %g)", p.x, p.y, p.z);
    return text;
}

double Length(Point a, Point b)
{
    return std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) + (b.z - a.z) * (b.z - a.z));
}

// A triangle record with u along a->b and v along a->d, one texture repeat per 64 units.
std::string Triangle(const std::string& texture, Point p0, Point p1, Point p2, const double uv[3][2])
{
    std::string text = texture + "|(0 0 0)(0 0 0)|0";
    const Point corners[3] = {p0, p1, p2};
    for (int i = 0; i < 3; ++i) {
        char values[64];
        std::snprintf(values, sizeof values, " %g %g 0 0", uv[i][0], uv[i][1]);
        text += " |" + Vector(corners[i]) + values;
    }
    return text;
}

void WriteImage(const std::string& path, int width, int height,
                const std::function<void(int, int, unsigned char*)>& pixel)
{
    static bool initialised = false;
    if (!initialised) {
        ilInit();
        initialised = true;
    }
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(x, y, &rgba[(static_cast<size_t>(y) * width + x) * 4]);
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilTexImage(width, height, 1, 4, IL_RGBA, IL_UNSIGNED_BYTE, rgba.data());
    std::remove(path.c_str());
    ilSave(IL_TGA, path.c_str());
    ilDeleteImages(1, &image);
}

}  // namespace

void SceneBuilder::AddQuad(const std::string& texture, Point a, Point b, Point c, Point d)
{
    const double u = Length(a, b) / 64.0, v = Length(a, d) / 64.0;
    const double first[3][2] = {{0, 0}, {u, 0}, {u, v}};
    const double second[3][2] = {{0, 0}, {u, v}, {0, v}};
    triangles_.push_back(Triangle(texture, a, b, c, first));
    triangles_.push_back(Triangle(texture, a, c, d, second));
}

void SceneBuilder::AddBox(const std::string& texture, Point n, Point x, bool inwards)
{
    // Each face listed counter-clockwise seen from outside.
    const Point faces[6][4] = {
        {{n.x, n.y, n.z}, {n.x, x.y, n.z}, {x.x, x.y, n.z}, {x.x, n.y, n.z}},  // bottom
        {{n.x, n.y, x.z}, {x.x, n.y, x.z}, {x.x, x.y, x.z}, {n.x, x.y, x.z}},  // top
        {{n.x, n.y, n.z}, {x.x, n.y, n.z}, {x.x, n.y, x.z}, {n.x, n.y, x.z}},  // -y
        {{x.x, x.y, n.z}, {n.x, x.y, n.z}, {n.x, x.y, x.z}, {x.x, x.y, x.z}},  // +y
        {{n.x, x.y, n.z}, {n.x, n.y, n.z}, {n.x, n.y, x.z}, {n.x, x.y, x.z}},  // -x
        {{x.x, n.y, n.z}, {x.x, x.y, n.z}, {x.x, x.y, x.z}, {x.x, n.y, x.z}},  // +x
    };
    for (const auto& f : faces) {
        if (inwards)
            AddQuad(texture, f[3], f[2], f[1], f[0]);
        else
            AddQuad(texture, f[0], f[1], f[2], f[3]);
    }
}

void SceneBuilder::AddLight(Point position, double radius, Point colour)
{
    char text[160];
    std::snprintf(text, sizeof text, "light%zu %g %g %g %g %g %g %g", lights_.size(), position.x, position.y,
                  position.z, radius, colour.x, colour.y, colour.z);
    lights_.push_back(text);
}

std::string SceneBuilder::Text() const
{
    std::string text = "BSP\nBBOXES\n( -1000 -1000 -1000 ) ( 1000 1000 1000 )\nENTITIES\n";
    for (const std::string& light : lights_)
        text += light + "\n";
    // The grammar needs at least one light record; a level "without lights" is tested by other means.
    const size_t half = (triangles_.size() + 1) / 2;
    text += "LEAF\n";
    for (size_t i = 0; i < half; ++i)
        text += triangles_[i] + "\n";
    text += "LEAF\n";
    for (size_t i = half; i < triangles_.size(); ++i)
        text += triangles_[i] + "\n";
    text += "NODE (1 0 0) 0 L0 L1\n";
    return text;
}

void WriteSceneAssets(const TempDir& dir)
{
    WriteImage(dir.File("white.tga"), 16, 16, [](int, int, unsigned char* p) {
        p[0] = p[1] = p[2] = 255;
        p[3] = 0;
    });
    for (const char* flat : {"nonormal.tga", "white_normal.tga"})
        WriteImage(dir.File(flat), 4, 4, [](int, int, unsigned char* p) {
            p[0] = p[1] = 128;
            p[2] = p[3] = 255;
        });
    WriteImage(dir.File("ramp.tga"), 256, 4, [](int x, int, unsigned char* p) {
        p[0] = p[1] = p[2] = static_cast<unsigned char>(x);
        p[3] = 255;
    });
    WriteImage(dir.File("postprocess.tga"), 4, 4, [](int, int, unsigned char* p) {
        p[0] = p[1] = p[2] = 128;
        p[3] = 255;
    });
    for (const char* shader : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
        CopyData(dir, shader);
}

std::array<int, 2> ProjectFromStart(Point p, int width, int height)
{
    // The eye looks along +X with +Z up and -Y to the right.
    const double aspect = static_cast<double>(width) / height;
    const double ndcX = (-p.y / p.x) / aspect;
    const double ndcY = p.z / p.x;
    return {static_cast<int>(std::lround((ndcX + 1) / 2 * width)),
            static_cast<int>(std::lround((ndcY + 1) / 2 * height))};
}

double Brightness(const Image& image, int x, int y)
{
    double sum = 0;
    int count = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const int px = x + dx, py = y + dy;
            if (px < 0 || py < 0 || px >= image.width || py >= image.height)
                continue;
            const unsigned char* p = image.At(px, py);
            sum += (p[0] + p[1] + p[2]) / 3.0;
            ++count;
        }
    return count ? sum / count : 0;
}

int DifferingPixels(const Image& a, const Image& b)
{
    int differing = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if ((x >= 336 || y >= 48) && std::memcmp(a.At(x, y), b.At(x, y), 3) != 0)
                ++differing;
    return differing;
}
