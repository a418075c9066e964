// velmora-levelgen: writes a complete level (out.txt), every image it names and the viewer's shader files into an
// output directory.

#include "LevelBsp.h"
#include "LevelLayout.h"
#include "LevelMesh.h"
#include "LevelShaders.h"
#include "LevelWriter.h"
#include "ProceduralTextures.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr int kDefaultRooms = 6;
constexpr int kDefaultMaterials = 8;
constexpr double kDefaultCellSize = 64.0;
constexpr size_t kLeafSize = 256;
constexpr uint64_t kMaxTriangles = 50000000;  // about 1.2 GB of working memory
constexpr uint64_t kTrianglesPerRoom = 40000;  // rooms chosen for a triangle target when none are given

struct Options {
    std::string out;
    int rooms = 0;  // 0: chosen from the triangle target, or the default
    uint64_t triangles = 0;  // 0: no target, fixed cell size
    int materials = kDefaultMaterials;
    uint64_t seed = 1;
    bool textures = true;
    bool everyNormalMap = true;
    bool help = false;
};

const char kUsage[] =
    "usage: velmora-levelgen --out DIR [--rooms N] [--triangles N] [--materials N] [--seed S]\n"
    "                        [--no-textures] [--missing-normal-maps]\n"
    "Writes a level (DIR/out.txt), its images and the viewer's shader files into DIR; then\n"
    "`cd DIR && velmora-viewer` shows it.\n"
    "  --out DIR               the directory to write (created when missing)\n"
    "  --rooms N               rooms on a square grid, 1 to 4096 (default 6, or 1 per 40000 triangles)\n"
    "  --triangles N           subdivide faces to come close to N triangles (up to 50000000)\n"
    "  --materials N           materials, 1 to 999 (default 8)\n"
    "  --seed S                the same seed gives the same files (default 1)\n"
    "  --no-textures           write only out.txt (no images, no shader files)\n"
    "  --missing-normal-maps   one material in three gets no normal map and draws with nonormal\n"
    "  --every-normal-map      every material gets a normal map (the default)\n"
    "  --help                  print this and exit\n"
    "Prints one summary line; exits 0, 1 when a file cannot be written, 2 for bad options.\n";

int Usage(const char* problem)
{
    std::fprintf(stderr, "velmora-levelgen: %s\n%s", problem, kUsage);
    return 2;
}

// A whole decimal number from lo to hi, nothing else.
bool ParseNumber(const char* text, uint64_t lo, uint64_t hi, uint64_t& value)
{
    if (!text || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < lo || parsed > hi)
        return false;
    value = parsed;
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options, const char*& problem)
{
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const char* next = k + 1 < argc ? argv[k + 1] : nullptr;
        uint64_t value = 0;
        if (arg == "--no-textures") {
            options.textures = false;
            continue;
        }
        if (arg == "--every-normal-map" || arg == "--missing-normal-maps") {
            options.everyNormalMap = arg == "--every-normal-map";
            continue;
        }
        if (arg == "--help") {
            options.help = true;
            return true;
        }
        if (arg == "--out" && next) {
            options.out = next;
        } else if (arg == "--rooms") {
            if (!ParseNumber(next, 1, 4096, value))
                return problem = "--rooms takes a number from 1 to 4096", false;
            options.rooms = static_cast<int>(value);
        } else if (arg == "--triangles") {
            if (!ParseNumber(next, 1, kMaxTriangles, value))
                return problem = "--triangles takes a number from 1 to 50000000", false;
            options.triangles = value;
        } else if (arg == "--materials") {
            if (!ParseNumber(next, 1, 999, value))
                return problem = "--materials takes a number from 1 to 999", false;
            options.materials = static_cast<int>(value);
        } else if (arg == "--seed") {
            if (!ParseNumber(next, 0, UINT64_MAX, value))
                return problem = "--seed takes a whole number", false;
            options.seed = value;
        } else {
            return problem = "unknown or incomplete option", false;
        }
        ++k;
    }
    if (options.out.empty())
        return problem = "--out is required", false;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    const char* problem = nullptr;
    if (!ParseOptions(argc, argv, options, problem))
        return Usage(problem);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::error_code error;
    std::filesystem::create_directories(options.out, error);
    if (!std::filesystem::is_directory(options.out)) {
        std::printf("Cannot create directory \"%s\"\n", options.out.c_str());
        std::fflush(stdout);
        return 1;
    }

    int rooms = options.rooms;
    if (rooms == 0)
        rooms = options.triangles == 0
                    ? kDefaultRooms
                    : static_cast<int>(std::clamp<uint64_t>(options.triangles / kTrianglesPerRoom, 4, 1024));

    const std::vector<Material> materials = MakeMaterials(options.materials, options.seed, options.everyNormalMap);
    const LevelLayout layout = BuildLayout(rooms, materials, options.seed);
    const double cellSize =
        options.triangles == 0 ? kDefaultCellSize : ChooseCellSize(layout.faces, options.triangles);
    const LevelMesh mesh = TriangulateFaces(layout.faces, cellSize);
    if (mesh.triangleCount > kMaxTriangles)
        return Usage("the level would exceed 50000000 triangles; use fewer rooms");

    BspTree tree = BuildBsp(TriangleCentroids(layout.faces, mesh), kLeafSize);
    ShuffleBsp(tree, options.seed);

    const std::string directory = options.out.back() == '/' ? options.out : options.out + "/";
    LevelFileStats stats;
    if (!WriteLevelFile(directory + "out.txt", layout, materials, mesh, tree, stats))
        return 1;
    if (options.textures && !(WriteLevelImages(directory, materials) &&
                              CopyShaderFiles(InstalledShaderDirectory(), directory)))
        return 1;

    std::printf("%" PRIu64 " triangles, %zu lights, %zu leaves, %zu nodes, %zu materials\n", stats.triangles,
                stats.lights, stats.leaves, stats.nodes, stats.materials);
    std::fflush(stdout);
    return 0;
}
