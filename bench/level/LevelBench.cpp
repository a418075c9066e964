// Level loading throughput on a level file (reading it and parsing it into the scene model, and parsing alone),
// beside the cost of only reading the file into memory and of converting every number in the same text with strtof.
//
// Use: bench_level RUNS LEVEL_FILE

#include "BenchLevel.h"
#include "BenchTable.h"
#include "Level.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// Converts every number of the text: strtof wherever a number can start, one byte on where nothing converts.
double StrtofScan(const std::string& text)
{
    double sum = 0.0;
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end) {
        if (!std::isdigit(static_cast<unsigned char>(*p)) && *p != '-' && *p != '+' && *p != '.') {
            ++p;
            continue;
        }
        char* next = nullptr;
        const float value = std::strtof(p, &next);
        if (next == p) {
            ++p;
        } else {
            sum += value;
            p = next;
        }
    }
    return sum;
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_level RUNS LEVEL_FILE", argc == 3 && std::atoi(argv[1]) >= 1);
    const int runs = std::atoi(argv[1]);
    const char* path = argv[2];
    const std::string text = ReadFile(path);
    if (text.empty()) {
        std::printf("bench_level: cannot read %s\n", path);
        return 1;
    }
    const double megabytes = double(text.size()) / (1 << 20);

    size_t readBytes = 0;
    const double readSeconds = MedianSeconds(runs, [&] { readBytes = ReadFile(path).size(); });
    double checksum = 0.0;
    const double strtofSeconds = MedianSeconds(runs, [&] { checksum += StrtofScan(text); });

    std::map<std::string, uint32_t> ids;
    const TextureSource textures = NumberedTextures(ids);
    size_t triangles = 0;
    const double loadSeconds = MedianSeconds(runs, [&] {
        const std::string fileText = ReadFile(path);
        LevelParseState state;
        std::vector<Light> lights;
        std::vector<BoundingBox> boxes;
        ParseLevelText(fileText, state, lights, boxes, textures);
        triangles = 0;
        for (const auto& leaf : state.leafTable)
            triangles += leaf->triangles.size();
    });
    const double parseSeconds = MedianSeconds(runs, [&] {
        LevelParseState state;
        std::vector<Light> lights;
        std::vector<BoundingBox> boxes;
        ParseLevelText(text, state, lights, boxes, textures);
    });
    std::printf("level %s: %.1f MB, %zu triangles, read back %zu bytes, checksum %g\n", path, megabytes, triangles,
                readBytes, checksum);

    const std::string section = "level parse and load";
    const std::string what = Format("%.0f MB, %zuk triangles; median of %d", megabytes, triangles / 1000, runs);
    const double loadRate = megabytes / loadSeconds;
    PrintRow(section, "read + parse + load, MB/s (" + what + ")", Format("%.1f", loadRate),
             Format("reading the file: %.1f", megabytes / readSeconds), Format("%.3f", readSeconds / loadSeconds));
    PrintRow(section, "parse + load of the text in memory, MB/s (" + what + ")",
             Format("%.1f", megabytes / parseSeconds), Format("reading the file: %.1f", megabytes / readSeconds),
             Format("%.3f", readSeconds / parseSeconds));
    PrintRow(section, "read + parse + load vs strtof over the same text, MB/s", Format("%.1f", loadRate),
             Format("strtof scan: %.1f", megabytes / strtofSeconds), Format("%.3f", strtofSeconds / loadSeconds));
    return 0;
}
