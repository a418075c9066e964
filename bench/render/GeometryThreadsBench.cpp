// The render-geometry build's parallel steps (weld, order, clusters) on one thread and on two, in the same process:
// the wall time, and the processor time of the whole process, which shows the work a step adds to use a second
// thread even when other programs hold the processors. Rows: | geometry threads | step, level, threads | wall ms |
// processor ms | ratio to one thread |.
//
// Use: bench_geometry_threads RUNS LEVEL_FILE...

#include "BenchLevel.h"
#include "BenchTable.h"
#include "GeometryBuild.h"
#include "Level.h"

#include <sys/resource.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

double ProcessorSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Times {
    double wall = 0.0, processor = 0.0;
};

// Medians over the runs; `prepare` runs untimed before each.
Times Measure(int runs, const std::function<void()>& prepare, const std::function<void()>& step)
{
    std::vector<double> wall, processor;
    for (int run = 0; run < runs; ++run) {
        prepare();
        const double processorStart = ProcessorSeconds();
        const auto start = std::chrono::steady_clock::now();
        step();
        wall.push_back(SecondsSince(start));
        processor.push_back(ProcessorSeconds() - processorStart);
    }
    return {Median(wall), Median(processor)};
}

void MeasureLevel(int runs, const char* path)
{
    const std::string text = ReadFile(path);
    std::map<std::string, uint32_t> ids;
    const TextureSource textures = NumberedTextures(ids);
    LevelParseState state;
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    const TriangleRefs triangles = CollectTriangleRefs(ParseLevelText(text, state, lights, boxes, textures));
    const std::string level = Format("%zuk-triangle level", triangles.size() / 1000);
    const BuiltGeometry welded = WeldGeometry(triangles, 1);
    BuiltGeometry ordered = welded;
    OrderBatches(ordered, 1);
    BuiltGeometry work;
    const struct {
        const char* name;
        std::function<void()> prepare;
        std::function<void(unsigned)> step;
    } steps[] = {
        {"weld (WeldGeometry)", [] {}, [&](unsigned threads) { work = WeldGeometry(triangles, threads); }},
        {"order (OrderBatches)", [&] { work = welded; }, [&](unsigned threads) { OrderBatches(work, threads); }},
        {"clusters (BuildClusters)", [&] { work = ordered; }, [&](unsigned threads) { BuildClusters(work, threads); }},
    };
    for (const auto& s : steps) {
        const Times one = Measure(runs, s.prepare, [&] { s.step(1); });
        const Times two = Measure(runs, s.prepare, [&] { s.step(2); });
        for (unsigned threads : {1u, 2u}) {
            const Times& t = threads == 1 ? one : two;
            PrintRow("geometry threads",
                     Format("%s, %s, %u thread%s (median of %d)", s.name, level.c_str(), threads,
                            threads == 1 ? "" : "s", runs),
                     Format("%.1f", t.wall * 1e3), Format("processor %.1f", t.processor * 1e3),
                     Format("wall x%.2f; processor x%.2f", one.wall / t.wall, t.processor / one.processor));
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    CheckArguments(argc, argv, "bench_geometry_threads RUNS LEVEL_FILE...", argc >= 3 && std::atoi(argv[1]) >= 1);
    for (int i = 2; i < argc; ++i)
        MeasureLevel(std::atoi(argv[1]), argv[i]);
    return 0;
}
