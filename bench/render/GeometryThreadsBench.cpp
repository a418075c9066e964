// The render-geometry build's parallel steps (weld, order, clusters) on one thread and on two, in the same process:
// the wall time, and the processor time of the whole process, which shows the work a step adds to use a second
// thread even when other programs hold the processors. Rows: | geometry threads | step, level, threads | wall ms |
// processor ms | ratio to one thread |.
//
// Use: bench_geometry_threads [--step weld|order|clusters] RUNS LEVEL_FILE...

#include "BenchLevel.h"
#include "BenchTable.h"
#include "GeometryBuild.h"
#include "Level.h"

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
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

// Whether two builds hand the same bytes to GL and cut the lists into the same clusters.
bool SameGeometry(const BuiltGeometry& a, const BuiltGeometry& b)
{
    if (a.vertices.size() != b.vertices.size() || a.batches.size() != b.batches.size() ||
        a.batchClusters != b.batchClusters || a.clusters.size() != b.clusters.size())
        return false;
    for (size_t i = 0; i < a.batches.size(); ++i)
        if (a.batches[i].diffuseTexture != b.batches[i].diffuseTexture ||
            a.batches[i].normalMap != b.batches[i].normalMap || a.batches[i].indices != b.batches[i].indices)
            return false;
    return std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(RenderVertex)) == 0 &&
           std::memcmp(a.clusters.data(), b.clusters.data(), a.clusters.size() * sizeof(IndexCluster)) == 0;
}

// `only` names the one step to measure, or is empty for all three.
void MeasureLevel(const std::string& only, int runs, const char* path)
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
        const char* key;
        const char* name;
        std::function<void()> prepare;
        std::function<void(unsigned)> step;
    } steps[] = {
        {"weld", "weld (WeldGeometry)", [] {}, [&](unsigned threads) { work = WeldGeometry(triangles, threads); }},
        {"order", "order (OrderBatches)", [&] { work = welded; },
         [&](unsigned threads) { OrderBatches(work, threads); }},
        {"clusters", "clusters (BuildClusters)", [&] { work = ordered; },
         [&](unsigned threads) { BuildClusters(work, threads); }},
    };
    for (const auto& s : steps) {
        if (!only.empty() && only != s.key)
            continue;
        const Times one = Measure(runs, s.prepare, [&] { s.step(1); });
        const BuiltGeometry single = work;
        const Times two = Measure(runs, s.prepare, [&] { s.step(2); });
        const char* identity = SameGeometry(single, work) ? "output identical" : "OUTPUT DIFFERS";
        for (unsigned threads : {1u, 2u}) {
            const Times& t = threads == 1 ? one : two;
            PrintRow("geometry threads",
                     Format("%s, %s, %u thread%s (median of %d)", s.name, level.c_str(), threads,
                            threads == 1 ? "" : "s", runs),
                     Format("%.1f", t.wall * 1e3), Format("processor %.1f", t.processor * 1e3),
                     Format("wall x%.2f; processor x%.2f%s%s", one.wall / t.wall, t.processor / one.processor,
                            threads == 1 ? "" : "; ", threads == 1 ? "" : identity));
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const bool chosen = argc >= 3 && std::strcmp(argv[1], "--step") == 0;
    const std::string only = chosen ? argv[2] : "";
    const int first = chosen ? 3 : 1;
    CheckArguments(argc, argv, "bench_geometry_threads [--step weld|order|clusters] RUNS LEVEL_FILE...",
                   argc >= first + 2 && std::atoi(argv[first]) >= 1 &&
                       (only.empty() || only == "weld" || only == "order" || only == "clusters"));
    for (int i = first + 1; i < argc; ++i)
        MeasureLevel(only, std::atoi(argv[first]), argv[i]);
    return 0;
}
