// Level loading throughput on a generated level of at least 50 MB, beside the cost of reading the file into memory
// and of converting every number in the same text with strtof. Prints medians of a few runs.

#include "Level.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const int kRuns = 5;
const std::size_t kMinimumBytes = 50u << 20;

// Coordinates of a few digits as a level tool writes them, texture names from a small set, a balanced tree.
std::string GenerateLevel() {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-4096.0f, 4096.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    char buffer[512];
    std::string text = "BSP\nBBOXES\n";
    for (int i = 0; i < 64; ++i) {
        std::snprintf(buffer, sizeof buffer, "( %.2f %.2f %.2f ) ( %.2f %.2f %.2f )\n", coordinate(random),
                      coordinate(random), coordinate(random), coordinate(random), coordinate(random),
                      coordinate(random));
        text += buffer;
    }
    text += "ENTITIES\n";
    for (int i = 0; i < 32; ++i) {
        std::snprintf(buffer, sizeof buffer, "light%d %.3f %.3f %.3f %.1f %.4f %.4f %.4f\n", i, coordinate(random),
                      coordinate(random), coordinate(random), 100 + 900 * unit(random), unit(random), unit(random),
                      unit(random));
        text += buffer;
    }
    int leaves = 0;
    while (text.size() < kMinimumBytes) {
        text += "LEAF\n";
        for (int t = 0; t < 8; ++t) {
            std::snprintf(buffer, sizeof buffer, "textures/wall%02d|(%.4f %.4f %.4f)(%.4f %.4f %.4f)|%d\n",
                          int(random() % 40), unit(random), unit(random), unit(random), unit(random), unit(random),
                          unit(random), int(random() % 1000));
            text += buffer;
            for (int c = 0; c < 3; ++c) {
                std::snprintf(buffer, sizeof buffer, "  |(%.3f %.3f %.3f) %.5f %.5f %.5f %.5f\n", coordinate(random),
                              coordinate(random), coordinate(random), 8 * unit(random), 8 * unit(random),
                              unit(random), unit(random));
                text += buffer;
            }
        }
        ++leaves;
    }
    // Node k has children 2k+1 and 2k+2 while they exist; the rest of the references go to leaves.
    const int nodes = leaves - 1;
    for (int k = 0; k < nodes; ++k) {
        auto child = [&](int index) {
            return index < nodes ? "N" + std::to_string(index) : "L" + std::to_string(index - nodes);
        };
        std::snprintf(buffer, sizeof buffer, "NODE (%.4f %.4f %.4f) %.3f %s %s\n", unit(random), unit(random),
                      unit(random), coordinate(random), child(2 * k + 1).c_str(), child(2 * k + 2).c_str());
        text += buffer;
    }
    return text;
}

double Median(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

template <typename Action>
double MedianSeconds(Action action) {
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        action();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return Median(seconds);
}

std::string ReadFile(const char* path) {
    std::string text;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return text;
    }
    char chunk[1 << 16];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, count);
    }
    std::fclose(file);
    return text;
}

// Converts every number of the text: strtof wherever a number can start, one byte on where nothing converts.
double StrtofScan(const std::string& text) {
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

int main() {
    const std::string text = GenerateLevel();
    char path[] = "/tmp/bench-level-XXXXXX";
    const int descriptor = mkstemp(path);
    if (descriptor < 0 || write(descriptor, text.data(), text.size()) != ssize_t(text.size())) {
        std::printf("bench_level: cannot write the level file\n");
        return 1;
    }
    close(descriptor);
    const double megabytes = double(text.size()) / (1 << 20);

    std::size_t readBytes = 0;
    const double readSeconds = MedianSeconds([&] { readBytes = ReadFile(path).size(); });
    unlink(path);

    double checksum = 0.0;
    const double strtofSeconds = MedianSeconds([&] { checksum += StrtofScan(text); });

    std::map<std::string, uint32_t> cache;
    TextureSource textures;
    textures.loadTexture = [&cache](const std::string& name) {
        return cache.emplace(name, uint32_t(cache.size() + 2)).first->second;
    };
    textures.fallbackTexture = 1;
    std::size_t triangles = 0;
    const double parseSeconds = MedianSeconds([&] {
        LevelParseState state;
        std::vector<Light> lights;
        std::vector<BoundingBox> boxes;
        ParseLevelText(text, state, lights, boxes, textures);
        triangles = 0;
        for (const auto& leaf : state.leafTable) {
            triangles += leaf->triangles.size();
        }
    });

    std::printf("level text: %.1f MB, %zu triangles (read back %zu bytes, checksum %g)\n", megabytes,
                triangles, readBytes, checksum);
    std::printf("%-34s %8s %10s\n", "median of 5 runs", "seconds", "MB/s");
    std::printf("%-34s %8.3f %10.1f\n", "read file into memory", readSeconds, megabytes / readSeconds);
    std::printf("%-34s %8.3f %10.1f\n", "strtof scan", strtofSeconds, megabytes / strtofSeconds);
    std::printf("%-34s %8.3f %10.1f\n", "parse and load", parseSeconds,
                 megabytes / parseSeconds);
    std::printf("parse and load rate / strtof scan rate: %.2f\n", strtofSeconds / parseSeconds);
    return 0;
}
