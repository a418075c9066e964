// Runs velmora-levelgen on small levels and checks what it writes: the record syntax, the BSP tree, the counts of
// its summary line, the faces' winding and texture frames as seen from the start position, and the images.
#include "LevelFileReader.h"
#include "Level.h"
#include "LevelLayout.h"
#include "TestSupport.h"

#include <IL/il.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Vector = std::array<double, 3>;

Vector Sub(const Vector& a, const Vector& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Dot(const Vector& a, const Vector& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vector Cross(const Vector& a, const Vector& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

struct Summary {
    unsigned long long triangles = 0;
    size_t lights = 0, leaves = 0, nodes = 0, materials = 0;
};

fs::path FreshDirectory(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("velmora-levelgen-test-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    return dir;
}

// Runs the generator with `arguments`.
CommandResult RunGenerator(const std::string& arguments)
{
    return RunCommand(std::string(VELMORA_LEVELGEN) + " " + arguments);
}

Summary Generate(const fs::path& dir, const std::string& options)
{
    const CommandResult run = RunGenerator("--out " + dir.string() + " " + options);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string& output = run.out;
    Summary s;
    EXPECT_EQ(std::sscanf(output.c_str(), "%llu triangles, %zu lights, %zu leaves, %zu nodes, %zu materials\n",
                          &s.triangles, &s.lights, &s.leaves, &s.nodes, &s.materials),
              5)
        << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    return s;
}

ReadLevel ReadGenerated(const fs::path& dir)
{
    ReadLevel level;
    std::string error;
    EXPECT_TRUE(ReadLevelText(ReadFileText(dir / "out.txt"), level, error)) << error;
    return level;
}

Vector Centroid(const ReadTriangle& t)
{
    Vector c{};
    for (const ReadCorner& corner : t.corners)
        for (int a = 0; a < 3; ++a)
            c[a] += corner.position[a] / 3.0;
    return c;
}

// Walks the tree from node 0: every child index in range, no node twice (so no cycle), every leaf exactly once,
// and each triangle's centroid on the side of every plane above it that its branch stands for.
void CheckTree(const ReadLevel& level)
{
    std::vector<int> leafVisits(level.leaves.size(), 0);
    std::vector<bool> nodeSeen(level.nodes.size(), false);
    struct Step {
        ReadChild child;
        std::vector<std::pair<const ReadNode*, bool>> planes;  // plane, and whether the branch is its front
    };
    std::vector<Step> pending{{{false, 0}, {}}};
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        const size_t index = static_cast<size_t>(step.child.index);
        if (step.child.isLeaf) {
            ASSERT_GE(step.child.index, 0);
            ASSERT_LT(index, level.leaves.size());
            ++leafVisits[index];
            for (const ReadTriangle& t : level.leaves[index])
                for (const auto& [node, front] : step.planes) {
                    const double side = Dot(node->normal, Centroid(t)) - node->distance;
                    EXPECT_TRUE(front ? side >= -1e-3 : side <= 1e-3) << "leaf " << index << " side " << side;
                }
            continue;
        }
        ASSERT_GE(step.child.index, 0);
        ASSERT_LT(index, level.nodes.size());
        ASSERT_FALSE(nodeSeen[index]) << "node " << index << " reached twice";
        nodeSeen[index] = true;
        const ReadNode& node = level.nodes[index];
        Step first{node.first, step.planes}, second{node.second, step.planes};
        first.planes.emplace_back(&node, true);
        second.planes.emplace_back(&node, false);
        pending.push_back(first);
        pending.push_back(second);
    }
    for (size_t k = 0; k < leafVisits.size(); ++k)
        EXPECT_EQ(leafVisits[k], 1) << "leaf " << k;
    for (size_t k = 0; k < nodeSeen.size(); ++k)
        EXPECT_TRUE(nodeSeen[k]) << "node " << k << " is not in the tree";
}

// Counts, names and the per-triangle texture frame: the header names the face normal and u direction, the corners
// wind counter-clockwise around that normal, and u and v advance one repeat per 128 units along right-handed axes.
void CheckCountsAndTriangles(const ReadLevel& level, const Summary& summary, int requestedMaterials)
{
    size_t triangles = 0;
    std::set<std::string> names;
    for (const auto& leaf : level.leaves) {
        for (const ReadTriangle& t : leaf) {
            ++triangles;
            names.insert(t.name);
            const Vector& a = t.corners[0].position;
            const Vector e1 = Sub(t.corners[1].position, a), e2 = Sub(t.corners[2].position, a);
            const Vector n = Cross(e1, e2);
            ASSERT_GT(Dot(n, t.headerNormal), 0.0) << t.name;
            // Solve e = du * dPdu + dv * dPdv for the two edges.
            const double du1 = t.corners[1].u - t.corners[0].u, dv1 = t.corners[1].v - t.corners[0].v;
            const double du2 = t.corners[2].u - t.corners[0].u, dv2 = t.corners[2].v - t.corners[0].v;
            const double det = du1 * dv2 - du2 * dv1;
            ASSERT_NE(det, 0.0);
            Vector dPdu{}, dPdv{};
            for (int k = 0; k < 3; ++k) {
                dPdu[k] = (e1[k] * dv2 - e2[k] * dv1) / det;
                dPdv[k] = (e2[k] * du1 - e1[k] * du2) / det;
            }
            EXPECT_NEAR(std::sqrt(Dot(dPdu, dPdu)), 128.0, 0.5);
            EXPECT_NEAR(std::sqrt(Dot(dPdv, dPdv)), 128.0, 0.5);
            EXPECT_NEAR(Dot(dPdu, t.headerTangent), 128.0, 0.5);
            EXPECT_GT(Dot(Cross(dPdu, dPdv), t.headerNormal), 0.0);
        }
    }
    EXPECT_EQ(triangles, summary.triangles);
    EXPECT_EQ(level.lights.size(), summary.lights);
    EXPECT_EQ(level.leaves.size(), summary.leaves);
    EXPECT_EQ(level.nodes.size(), summary.nodes);
    EXPECT_EQ(names.size(), summary.materials);
    EXPECT_LE(names.size(), static_cast<size_t>(requestedMaterials));
    EXPECT_GE(level.lights.size(), 4u);
    for (const ReadLight& light : level.lights) {
        EXPECT_GE(light.radius, 200.0);
        for (double c : light.colour) {
            EXPECT_GE(c, 0.6);
            EXPECT_LE(c, 1.0);
        }
    }
}

// Nearest triangle hit by the ray from `origin` along `direction`, both sides counted; null when none.
const ReadTriangle* FirstHit(const ReadLevel& level, const Vector& origin, const Vector& direction)
{
    const ReadTriangle* best = nullptr;
    double bestT = 1e30;
    for (const auto& leaf : level.leaves)
        for (const ReadTriangle& t : leaf) {
            const Vector e1 = Sub(t.corners[1].position, t.corners[0].position);
            const Vector e2 = Sub(t.corners[2].position, t.corners[0].position);
            const Vector p = Cross(direction, e2);
            const double det = Dot(e1, p);
            if (std::fabs(det) < 1e-12)
                continue;
            const Vector s = Sub(origin, t.corners[0].position);
            const double u = Dot(s, p) / det;
            const Vector q = Cross(s, e1);
            const double v = Dot(direction, q) / det;
            const double hit = Dot(e2, q) / det;
            if (u >= 0 && v >= 0 && u + v <= 1 && hit > 1e-6 && hit < bestT) {
                bestT = hit;
                best = &t;
            }
        }
    return best;
}

// The start position sits inside closed geometry: every ray from the origin meets a face, and that face turns its
// front (counter-clockwise side) towards the origin, so back-face culling keeps it.
void CheckClosedAroundOrigin(const ReadLevel& level)
{
    int rays = 0;
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 7; ++j) {
            const double azimuth = i * 0.5236 + 0.11, elevation = -1.4 + j * 0.466;
            const Vector direction{std::cos(elevation) * std::cos(azimuth), std::cos(elevation) * std::sin(azimuth),
                                   std::sin(elevation)};
            const ReadTriangle* hit = FirstHit(level, {0, 0, 0}, direction);
            ASSERT_NE(hit, nullptr) << "ray " << i << "," << j << " leaves the level";
            const Vector n = Cross(Sub(hit->corners[1].position, hit->corners[0].position),
                                   Sub(hit->corners[2].position, hit->corners[0].position));
            EXPECT_LT(Dot(n, direction), 0.0) << "ray " << i << "," << j << " meets the back of " << hit->name;
            ++rays;
        }
    EXPECT_EQ(rays, 84);
}

bool LoadsWithImageLibrary(const fs::path& file)
{
    static const bool ready = (ilInit(), true);
    (void)ready;
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    const bool ok = ilLoadImage(file.string().c_str()) && ilGetInteger(IL_IMAGE_WIDTH) > 0;
    ilDeleteImages(1, &image);
    while (ilGetError() != IL_NO_ERROR) {
    }
    return ok;
}

// The first of base.dds, base.tga, base.jpg that exists, as the viewer looks for it; empty when none does.
fs::path FindImage(const fs::path& dir, const std::string& base)
{
    for (const char* extension : {".dds", ".tga", ".jpg"})
        if (fs::exists(dir / (base + extension)))
            return dir / (base + extension);
    return {};
}

// Every image the level names loads; with everyNormalMap false, some materials fall back to "nonormal".
void CheckImages(const fs::path& dir, const ReadLevel& level, bool everyNormalMap)
{
    std::set<std::string> names;
    for (const auto& leaf : level.leaves)
        for (const ReadTriangle& t : leaf)
            names.insert(t.name);
    int withNormalMap = 0;
    std::set<std::string> extensions;
    for (const std::string& name : names) {
        const fs::path diffuse = FindImage(dir, name);
        ASSERT_FALSE(diffuse.empty()) << name;
        EXPECT_TRUE(LoadsWithImageLibrary(diffuse)) << diffuse;
        extensions.insert(diffuse.extension().string());
        const fs::path normal = FindImage(dir, name + "_normal");
        if (!normal.empty()) {
            ++withNormalMap;
            EXPECT_TRUE(LoadsWithImageLibrary(normal)) << normal;
            extensions.insert(normal.extension().string());
        }
    }
    EXPECT_GT(withNormalMap, 0);
    if (everyNormalMap)
        EXPECT_EQ(withNormalMap, static_cast<int>(names.size())) << "a material falls back to nonormal";
    else
        EXPECT_LT(withNormalMap, static_cast<int>(names.size())) << "no material falls back to nonormal";
    for (const char* fixed : {"nonormal", "postprocess", "ramp"}) {
        const fs::path image = FindImage(dir, fixed);
        ASSERT_FALSE(image.empty()) << fixed;
        EXPECT_TRUE(LoadsWithImageLibrary(image)) << image;
        extensions.insert(image.extension().string());
    }
    EXPECT_EQ(extensions, (std::set<std::string>{".dds", ".tga", ".jpg"}));
}

TEST(LevelGenOutput, DefaultLevelIsWellFormedClosedAndTextured)
{
    for (const bool everyNormalMap : {true, false}) {
        SCOPED_TRACE(everyNormalMap);
        const fs::path dir = FreshDirectory("default");
        const Summary summary = Generate(dir, everyNormalMap ? "" : "--missing-normal-maps");
        const ReadLevel level = ReadGenerated(dir);
        CheckCountsAndTriangles(level, summary, 8);
        EXPECT_EQ(summary.materials, 8u);
        CheckTree(level);
        CheckClosedAroundOrigin(level);
        CheckImages(dir, level, everyNormalMap);
        fs::remove_all(dir);
    }
}

// The level's directory gets the viewer's shader files, byte for byte those of the source tree; a shader file the
// user already has there is kept.
TEST(LevelGenOutput, ShaderFilesAreCopiedBesideTheLevelAndEditsKept)
{
    const fs::path dir = FreshDirectory("shaders");
    fs::create_directories(dir);
    {
        std::ofstream(dir / "post.cg") << "// the user's own";
    }
    Generate(dir, "--rooms 1");
    for (const char* name : {"shader.cg", "ambient.cg", "shadow.cg"})
        EXPECT_EQ(ReadFileText(dir / name), ReadFileText(fs::path(VELMORA_SOURCE_DIR) / "data" / name)) << name;
    EXPECT_EQ(ReadFileText(dir / "post.cg"), "// the user's own");
    fs::remove_all(dir);
}

TEST(LevelGenOutput, SizesAndSeedsGiveWellFormedLevels)
{
    const struct {
        const char* options;
        int materials;
    } cases[] = {
        {"--rooms 1 --seed 3 --no-textures", 8},
        {"--rooms 3 --seed 99 --materials 6 --no-textures", 6},
        {"--rooms 2 --seed 5 --materials 40 --no-textures", 40},
        {"--triangles 20000 --seed 7 --no-textures", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const fs::path dir = FreshDirectory("sizes");
        const Summary summary = Generate(dir, c.options);
        const ReadLevel level = ReadGenerated(dir);
        CheckCountsAndTriangles(level, summary, c.materials);
        CheckTree(level);
        CheckClosedAroundOrigin(level);
        fs::remove_all(dir);
    }
}

TEST(LevelGenOutput, TriangleTargetAndMaterialCountAreMet)
{
    const fs::path dir = FreshDirectory("target");
    const Summary large = Generate(dir, "--triangles 30000 --materials 40 --no-textures");
    EXPECT_NEAR(static_cast<double>(large.triangles), 30000.0, 3000.0);
    EXPECT_EQ(large.materials, 40u);
    const Summary small = Generate(dir, "--rooms 2 --triangles 10 --no-textures");
    EXPECT_LT(small.triangles, 1000u);
    fs::remove_all(dir);
}

TEST(LevelGenOutput, SameSeedSameFileOtherSeedOtherFile)
{
    const fs::path dir = FreshDirectory("seed");
    Generate(dir, "--rooms 2 --seed 11 --no-textures");
    const std::string first = ReadFileText(dir / "out.txt");
    Generate(dir, "--rooms 2 --seed 11 --no-textures");
    EXPECT_EQ(ReadFileText(dir / "out.txt"), first);
    Generate(dir, "--rooms 2 --seed 12 --no-textures");
    EXPECT_NE(ReadFileText(dir / "out.txt"), first);
    EXPECT_FALSE(fs::exists(dir / "out.txt.partial"));
    fs::remove_all(dir);
}

// Writing into a directory that holds an earlier level replaces its images, and removes an image of the same base
// name in a format that the viewer would try before the new one.
TEST(LevelGenOutput, RewritingReplacesImagesOfOtherFormats)
{
    const fs::path dir = FreshDirectory("rewrite");
    Generate(dir, "--rooms 1 --materials 6");
    const std::vector<Material> materials = MakeMaterials(6, 1);
    const Material& tgaMaterial = materials[1];
    ASSERT_EQ(tgaMaterial.diffuseFormat, ImageFormat::Tga);
    fs::copy_file(dir / "nonormal.tga", dir / (tgaMaterial.name + ".dds"));
    Generate(dir, "--rooms 1 --materials 6");
    EXPECT_FALSE(fs::exists(dir / (tgaMaterial.name + ".dds")));
    EXPECT_EQ(FindImage(dir, tgaMaterial.name), dir / (tgaMaterial.name + ".tga"));
    fs::remove_all(dir);
}

TEST(LevelGenOutput, BadOptionsAreRefusedWithoutWriting)
{
    const fs::path dir = FreshDirectory("options");
    for (const std::string options :
         {"--rooms 0", "--rooms x", "--materials 1000", "--triangles -5", "--bogus", "--seed"}) {
        const CommandResult run = RunGenerator("--out " + dir.string() + " " + options);
        EXPECT_EQ(run.exitCode, 2) << options;
        EXPECT_EQ(run.err.rfind("velmora-levelgen: ", 0), 0u) << run.err;
    }
    EXPECT_EQ(RunGenerator("--rooms 2").exitCode, 2);
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
    fs::remove_all(dir);
}

}  // namespace

// The viewer's own loader reads every generated level completely: the structure matches, the node records form a
// tree, and the counts are those the generator reports.
TEST(LevelGenOutput, LoadsWithTheViewersLoader)
{
    for (const std::string options :
         {"", "--rooms 3 --materials 40 --no-textures", "--triangles 20000 --no-textures"}) {
        SCOPED_TRACE(options);
        const fs::path dir = FreshDirectory("loader");
        const Summary summary = Generate(dir, options);
        LevelParseState state;
        std::vector<Light> lights;
        std::vector<BoundingBox> boxes;
        std::set<std::string> names;
        TextureSource textures;
        textures.loadTexture = [&](const std::string& name) {
            names.insert(name);
            return 1u + static_cast<uint32_t>(names.size());
        };
        textures.fallbackTexture = 1u;
        const BspNode* root = ParseLevelText(ReadFileText(dir / "out.txt"), state, lights, boxes, textures);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(lights.size(), summary.lights);
        EXPECT_EQ(state.leafTable.size(), summary.leaves);
        EXPECT_EQ(state.nodeTable.size(), summary.nodes);
        EXPECT_EQ(CollectTriangles(root).size(), summary.triangles);
        EXPECT_GE(names.size(), summary.materials * 2) << "every diffuse texture and its normal map";
        fs::remove_all(dir);
    }
}
