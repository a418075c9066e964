// Level parsing on one thread against every usable thread, in the same process, runs alternating: the text in
// memory parsed into the scene model (triangle completion included, as it runs inside the parse), and triangle
// completion alone over the parsed triangles, leaf by leaf. From the two medians, Amdahl's law gives the parallel
// share and what 8 and 16 threads would give. Run under taskset to choose the threads.
//
// Use: bench_level_threads RUNS LEVEL_FILE

#include "BenchLevel.h"
#include "BenchTable.h"
#include "Level.h"
#include "WorkerPool.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Timing {
    std::vector<double> one;
    std::vector<double> all;
    std::vector<double> oneProcessor;  // processor time of every thread, which a busy machine moves less
    std::vector<double> allProcessor;
};

double ProcessorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Runs the step and adds its wall-clock and processor time to the side of `count` threads.
template <class Step>
void Measure(Timing& timing, unsigned count, Step&& step)
{
    const double processorStart = ProcessorSeconds();
    const auto start = std::chrono::steady_clock::now();
    step();
    (count == 1 ? timing.one : timing.all).push_back(SecondsSince(start));
    (count == 1 ? timing.oneProcessor : timing.allProcessor).push_back(ProcessorSeconds() - processorStart);
}

// Speed-up on n threads of work whose speed-up on `threads` threads was `measured`.
double Amdahl(double measured, unsigned threads, unsigned n)
{
    // A speed-up beyond the thread count (the one-thread runs met a busier machine) counts as all parallel.
    const double parallel = std::clamp((1.0 - 1.0 / measured) / (1.0 - 1.0 / threads), 0.0, 1.0);
    return 1.0 / ((1.0 - parallel) + parallel / n);
}

void PrintRows(const std::string& what, const Timing& timing, unsigned threads)
{
    const double one = Median(timing.one);
    const double all = Median(timing.all);
    const double speedup = one / all;
    const std::string section = "level on threads";
    PrintRow(section, what + ", s on " + std::to_string(threads) + " threads", Format("%.3f", all),
             Format("1 thread: %.3f", one), Format("%.2fx", speedup));
    PrintRow(section, what + ", processor s of all threads on " + std::to_string(threads) + " threads",
             Format("%.3f", Median(timing.allProcessor)), Format("1 thread: %.3f", Median(timing.oneProcessor)),
             Format("%.2fx", Median(timing.allProcessor) / Median(timing.oneProcessor)));
    if (threads > 1)
        PrintRow(section, what + ": Amdahl for 8 and 16 threads",
                 Format("%.2fx, %.2fx", Amdahl(speedup, threads, 8), Amdahl(speedup, threads, 16)), "", "");
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_level_threads RUNS LEVEL_FILE", argc == 3 && std::atoi(argv[1]) >= 1);
    const int runs = std::atoi(argv[1]);
    const std::string text = ReadFile(argv[2]);
    if (text.empty()) {
        std::printf("bench_level_threads: cannot read %s\n", argv[2]);
        return 1;
    }
    const unsigned threads = UsableThreads();
    std::map<std::string, uint32_t> ids;
    const TextureSource textures = NumberedTextures(ids);

    Timing parse;
    Timing completion;
    for (int run = 0; run < runs; ++run) {
        for (unsigned count : {1u, threads}) {
            // Freed after the clock stops.
            auto state = std::make_unique<LevelParseState>();
            std::vector<Light> lights;
            std::vector<BoundingBox> boxes;
            Measure(parse, count, [&] { ParseLevelText(text, *state, lights, boxes, textures, count); });
            Measure(completion, count, [&] {
                ParallelFor(
                    state->leafTable.size(),
                    [&state](std::size_t k) {
                        for (const LeafTriangle& stored : state->leafTable[k]->triangles) {
                            Triangle completed = CompletedTriangle(stored);
                            asm volatile("" : : "r"(&completed) : "memory");  // kept although nothing reads it
                        }
                    },
                    count);
            });
        }
    }
    std::printf("level %s: %.1f MB, %u usable threads\n", argv[2], double(text.size()) / (1 << 20), threads);
    PrintRows("parse + load of the text in memory (median of " + std::to_string(runs) + ")", parse, threads);
    PrintRows("triangle completion alone", completion, threads);
    return 0;
}
