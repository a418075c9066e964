// velmora-levelgen: writes a complete level (out.txt), every image it names and the viewer's shader files into an
// output directory.

#include "CommandLine.h"
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
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kDefaultRooms = 6;
constexpr int kDefaultMaterials = 8;
constexpr double kDefaultCellSize = 64.0;
constexpr size_t kLeafSize = 256;
constexpr uint64_t kMaxTriangles = 50000000;   // about 1.2 GB of working memory
constexpr uint64_t kTrianglesPerRoom = 40000;  // rooms chosen for a triangle target when none are given

struct Options {
    std::string out;
    uint64_t rooms = 0;      // 0: chosen from the triangle target, or the default
    uint64_t triangles = 0;  // 0: no target, fixed cell size
    uint64_t materials = kDefaultMaterials;
    uint64_t seed = 1;
    bool textures = true;
    bool everyNormalMap = true;
};

const char kProgram[] = "velmora-levelgen";

const char kUsage[] =
    "usage: velmora-levelgen --out DIR [--rooms N] [--triangles N] [--materials N] [--seed S]\n"
    "                        [--no-textures] [--missing-normal-maps]\n"
    "Writes a level (DIR/out.txt), its images and the viewer's shader files into DIR; then\n"
    "`velmora-viewer DIR` shows it.\n"
    "  --out DIR               the directory to write (created when missing)\n"
    "  --rooms N               rooms on a square grid, 1 to 4096 (default 6, or 1 per 40000 triangles)\n"
    "  --triangles N           subdivide faces to come close to N triangles (up to 50000000)\n"
    "  --materials N           materials, 1 to 999 (default 8)\n"
    "  --seed S                the same seed gives the same files (default 1)\n"
    "  --no-textures           write only out.txt (no images, no shader files)\n"
    "  --missing-normal-maps   one material in three gets no normal map and draws with nonormal\n"
    "  --every-normal-map      every material gets a normal map (the default)\n"
    "  --help                  print this and exit\n"
    "  --version               print the version and exit\n"
    "Options take their value as the next argument or after '=' (--out=DIR).\n"
    "Prints one summary line; exits 0, 1 when a file cannot be written (the reason on standard error),\n"
    "2 for bad options.\n";

constexpr OptionSpec kOptions[] = {
    {"out", 0, true},
    {"rooms", 0, true},
    {"triangles", 0, true},
    {"materials", 0, true},
    {"seed", 0, true},
    {"no-textures", 0, false},
    {"missing-normal-maps", 0, false},
    {"every-normal-map", 0, false},
    {"help", 0, false},
    {"version", 0, false},
};

// A whole decimal number from lo to hi, nothing else.
bool ParseNumber(const std::string& text, uint64_t lo, uint64_t hi, uint64_t& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < lo || parsed > hi)
        return false;
    value = parsed;
    return true;
}

enum class Request { Generate, Help, Version };

// The options of one command line; problem says what is wrong when the line is not usable.
Request ReadOptions(const CommandLine& line, Options& options, std::string& problem)
{
    struct NumberOption {
        const char* name;
        uint64_t lo, hi;
        const char* expected;
        uint64_t Options::*field;
    };
    static const NumberOption kNumbers[] = {
        {"rooms", 1, 4096, "a number from 1 to 4096", &Options::rooms},
        {"triangles", 1, kMaxTriangles, "a number from 1 to 50000000", &Options::triangles},
        {"materials", 1, 999, "a number from 1 to 999", &Options::materials},
        {"seed", 0, UINT64_MAX, "a whole number", &Options::seed},
    };
    for (const ParsedOption& option : line.options) {
        if (IsOption(option, "help"))
            return Request::Help;
        if (IsOption(option, "version"))
            return Request::Version;
    }
    if (!line.operands.empty()) {
        problem = "unexpected argument '" + line.operands[0] + "'";
        return Request::Generate;
    }
    for (const ParsedOption& option : line.options) {
        if (IsOption(option, "out")) {
            options.out = option.value;
        } else if (IsOption(option, "no-textures")) {
            options.textures = false;
        } else if (IsOption(option, "every-normal-map") || IsOption(option, "missing-normal-maps")) {
            options.everyNormalMap = IsOption(option, "every-normal-map");
        } else {
            for (const NumberOption& number : kNumbers) {
                if (IsOption(option, number.name) &&
                    !ParseNumber(option.value, number.lo, number.hi, options.*number.field)) {
                    problem =
                        std::string("--") + number.name + " takes " + number.expected + ", not '" + option.value + "'";
                    return Request::Generate;
                }
            }
        }
    }
    if (options.out.empty())
        problem = "--out DIR is required";
    return Request::Generate;
}

// Creates the output directory when missing; false after a line with the reason.
bool MakeDirectory(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!error && !std::filesystem::is_directory(path, error) && !error)
        error = std::make_error_code(std::errc::not_a_directory);
    if (error) {
        std::fprintf(stderr, "%s: cannot create directory '%s': %s\n", kProgram, path.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

int Generate(const Options& options)
{
    if (!MakeDirectory(options.out))
        return 1;

    int rooms = static_cast<int>(options.rooms);
    if (rooms == 0)
        rooms = options.triangles == 0
                    ? kDefaultRooms
                    : static_cast<int>(std::clamp<uint64_t>(options.triangles / kTrianglesPerRoom, 4, 1024));

    const std::vector<Material> materials =
        MakeMaterials(static_cast<int>(options.materials), options.seed, options.everyNormalMap);
    const LevelLayout layout = BuildLayout(rooms, materials, options.seed);
    const double cellSize = options.triangles == 0 ? kDefaultCellSize : ChooseCellSize(layout.faces, options.triangles);
    const LevelMesh mesh = TriangulateFaces(layout.faces, cellSize);
    if (mesh.triangleCount > kMaxTriangles)
        return ReportUsageError(kProgram, "the level would exceed 50000000 triangles; use fewer rooms");

    BspTree tree = BuildBsp(TriangleCentroids(layout.faces, mesh), kLeafSize);
    ShuffleBsp(tree, options.seed);

    const std::string directory = options.out.back() == '/' ? options.out : options.out + "/";
    LevelFileStats stats;
    if (!WriteLevelFile(directory + "out.txt", layout, materials, mesh, tree, stats))
        return 1;
    if (options.textures &&
        !(WriteLevelImages(directory, materials) && CopyShaderFiles(InstalledShaderDirectory(), directory)))
        return 1;

    std::printf("%" PRIu64 " triangles, %zu lights, %zu leaves, %zu nodes, %zu materials\n", stats.triangles,
                stats.lights, stats.leaves, stats.nodes, stats.materials);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const CommandLine line = ParseCommandLine(argc, argv, kOptions);
    if (!line.problem.empty())
        return ReportUsageError(kProgram, line.problem);
    Options options;
    std::string problem;
    const Request request = ReadOptions(line, options, problem);
    if (request == Request::Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (request == Request::Version)
        return PrintVersion(kProgram);
    if (!problem.empty())
        return ReportUsageError(kProgram, problem);
    // Whatever the system refuses on the way (memory, a path it cannot take) ends in a line, not an abort.
    try {
        return Generate(options);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", kProgram);
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
        return 1;
    }
}
