// [SECTION] Index
// - The reloader: one worker thread, the newest request, and the job it hands to the GL thread in stages.
// - The worker's side: read and parse with numbered materials, weigh, wait for the textures, build.
// - The GL thread's side: load the materials' textures a few at a time, then upload and swap between two frames.
//
// A job goes through these stages; the mutex guards every field that both threads touch.
//   Textures: parsed and weighed; the GL thread loads its materials' textures, as many per frame as fit in a
//             short budget, while the worker waits.
//   Building: the worker gives every triangle its real texture ids and builds the geometry on its threads.
//   Ready:    built; the GL thread uploads it, swaps it in and prints the level's lines.
//   Failed:   the lines that say why, printed by the GL thread.
// A newer request supersedes the job at any stage: the worker stops reading at its next block and drops what it
// has; a result of an older request that reaches the GL thread is dropped there.

#include "LevelReload.h"

#include "Console.h"
#include "LevelCost.h"
#include "PerfCounter.h"
#include "ShortCuts.h"
#include "ShortCutCache.h"

#include <malloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

// The GL thread's share of a frame for the textures of a reloaded level; at least one material is loaded per frame.
constexpr double kTextureSecondsPerFrame = 0.02;
// Vertices written into the new vertex buffer per frame: 8 MiB. On llvmpipe a million-triangle level's 28 MB in
// one glBufferData took 50 to 125 ms; reserving the buffer takes about 35 ms and each 8 MiB write 1 to 3 ms.
constexpr std::size_t kVerticesPerFrame = (std::size_t(8) << 20) / sizeof(RenderVertex);

// A reloaded level on its way to the screen.
struct ReloadJob {
    Level level;
    std::string textureLines;  // what loading its textures printed
    std::string parseLines;    // what the parse printed
    std::string buildLines;    // what the geometry build printed
    RenderGeometry geometry;   // all but the vertex buffer, which the GL thread fills from vertices
    std::vector<RenderVertex> vertices;
    std::size_t verticesWritten = 0;  // into geometry's vertex buffer, by the GL thread
};

// The materials of a parsed level, whose textures the GL thread loads while the worker waits. Shared, so that a
// job superseded while the GL thread loads from it lives until that thread lets go.
struct TextureHandoff {
    std::vector<std::string> materials;      // texture names in order of first use; material m is number m
    std::vector<TriangleTextures> textures;  // the loaded ids of the first materials, in order
    std::string lines;                       // what loading them printed
};

// The reload's share of the processors: all but one, which the frames keep.
unsigned ReloadThreads() { return std::max(1u, UsableThreads() - 1); }

enum class Stage { None, Textures, Building, Ready, Failed };

}  // namespace

class LevelReloader {
public:
    LevelReloader() : worker_([this] { Work(); }) {}
    ~LevelReloader()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }

    void Request(const std::string& path)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = path;
            ++newest_;
        }
        changed_.notify_all();
    }

    void Service(Viewer& viewer);

private:
    void Work();
    void Run(const std::string& path, uint64_t generation);
    bool Superseded(uint64_t generation) const { return stopping_ || newest_ != generation; }
    // Hands the job's failure lines to the GL thread, unless a newer request came.
    void Fail(uint64_t generation, std::string lines);
    void SwapIn(Viewer& viewer, ReloadJob& job);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> pending_;  // the newest request, until the worker takes it
    std::atomic<uint64_t> newest_{0};     // how many requests came; a job is current while this is its number
    std::atomic<bool> stopping_{false};
    Stage stage_ = Stage::None;
    uint64_t generation_ = 0;                  // the request the stage belongs to
    std::shared_ptr<TextureHandoff> handoff_;  // at Textures
    std::unique_ptr<ReloadJob> job_;           // at Ready
    std::unique_ptr<ReloadJob> uploading_;     // the GL thread's own: taken at Ready, its vertices going up
    uint64_t uploadingGeneration_ = 0;
    std::string failure_;  // at Failed
    std::thread worker_;   // last: it starts once every field above exists
};

// [SECTION] The worker's side

void LevelReloader::Work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || pending_; });
        if (stopping_)
            return;
        const std::string path = std::move(*pending_);
        pending_.reset();
        const uint64_t generation = newest_;
        lock.unlock();
        try {
            Run(path, generation);
        } catch (const std::bad_alloc&) {
            Fail(generation, "Out of memory while reloading the level.\n");
        }
        lock.lock();
    }
}

void LevelReloader::Fail(uint64_t generation, std::string lines)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (Superseded(generation))
        return;
    stage_ = Stage::Failed;
    generation_ = generation;
    failure_ = std::move(lines) + kKeepingCurrentLevel + "\n";
}

void LevelReloader::Run(const std::string& path, uint64_t generation)
{
    auto job = std::make_unique<ReloadJob>();
    // The lines of this job are printed by the GL thread when it shows the level (or why it cannot).
    ConsoleCapture capture;
    // Material numbers stand for texture ids until the GL thread has loaded the textures.
    std::vector<std::string> materials;
    std::unordered_map<std::string, uint32_t> numbers;
    TextureSource numbering;
    numbering.loadMaterial = [&materials, &numbers](const std::string& name) {
        const auto found = numbers.emplace(name, static_cast<uint32_t>(materials.size()));
        if (found.second)
            materials.push_back(name);
        return TriangleTextures{found.first->second, found.first->second};
    };
    const Outcome read = LoadLevelFile(
        job->level, path, numbering, [this, generation] { return Superseded(generation); }, ReloadThreads());
    if (Superseded(generation))
        return;
    if (!read.Ok())
        return Fail(generation, capture.Take() + read.Message() + "\n");
    // A level whose text did not match, whose tree was refused or that was too large to parse has no root; the
    // parse has said why.
    if (job->level.root == nullptr)
        return Fail(generation, capture.Take());
    job->parseLines = capture.Take();
    const Outcome fits = CheckLevelFitsMemory(job->level);
    if (!fits.Ok())
        return Fail(generation, job->parseLines + fits.Message() + "\n");

    auto handoff = std::make_shared<TextureHandoff>();
    handoff->materials = std::move(materials);
    std::unique_lock<std::mutex> lock(mutex_);
    if (Superseded(generation))
        return;
    handoff_ = handoff;
    job_.reset();  // a stale result the GL thread has not taken
    stage_ = Stage::Textures;
    generation_ = generation;
    changed_.wait(lock, [&] { return Superseded(generation) || stage_ == Stage::Building; });
    // A stale stage is the GL thread's to clear.
    if (Superseded(generation))
        return;
    const std::vector<TriangleTextures> ids = std::move(handoff->textures);
    job->textureLines = std::move(handoff->lines);
    handoff_.reset();
    lock.unlock();

    for (LevelParseState& state : job->level.parseStates)
        ParallelFor(
            state.leafTable.size(),
            [&](std::size_t leaf) {
                for (LeafTriangle& triangle : state.leafTable[leaf]->triangles) {
                    triangle.diffuseTexture = ids[triangle.diffuseTexture].diffuse;
                    triangle.normalMap = ids[triangle.normalMap].normalMap;
                }
            },
            ReloadThreads());
    Result<BuiltGeometry> built = BuildGeometry(CollectRenderTriangles(job->level.root), ReloadThreads(), {},
                                                [&job] { ReleaseTriangles(job->level); });
    if (!built.Ok())
        return Fail(generation, job->parseLines + capture.Take() + built.GetOutcome().Message() + "\n");
    // Only the vertex buffer is left for the GL thread.
    job->vertices = std::move(built.Value().vertices);
    ArrangeDrawLists(job->geometry, built.Value(), job->vertices.size());
    job->buildLines = capture.Take();

    lock.lock();
    if (Superseded(generation))
        return;
    job_ = std::move(job);
    stage_ = Stage::Ready;
    generation_ = generation;
}

// [SECTION] The GL thread's side

namespace {

// Loads the textures of the handoff's next materials through the renderer's cache, in order, for about a short
// share of a frame and at least one material.
void LoadSomeTextures(Renderer& renderer, TextureHandoff& handoff)
{
    const int64_t start = QueryPerformanceCounter();
    const int64_t budget = static_cast<int64_t>(kTextureSecondsPerFrame * double(QueryPerformanceFrequency()));
    ConsoleCapture capture;
    // Images decode only while textures load, and only a name the cache does not know needs the decoder, whose
    // start costs tens of milliseconds; it is gone again before the frame is drawn.
    TextureCache& cache = renderer.textures;
    std::optional<ImageDecoderSession> decoder;
    TextureSource source = LevelTextures(renderer);
    source.loadTexture = [&cache, &decoder](const std::string& name) {
        if (!decoder && cache.loadedTextures.count(name) == 0 && cache.failedLookup.count(name) == 0)
            decoder.emplace();
        return LoadTexture(cache, name);
    };
    do {
        handoff.textures.push_back(LoadTriangleTextures(handoff.materials[handoff.textures.size()], source));
    } while (handoff.textures.size() < handoff.materials.size() && QueryPerformanceCounter() - start < budget);
    decoder.reset();
    handoff.lines += capture.Take();
}

// The level's materials as a set: the short cuts' decision depends on which there are, not on their order.
std::vector<std::array<GLuint, 2>> SortedMaterials(const RenderGeometry& geometry)
{
    std::vector<std::array<GLuint, 2>> materials = LevelMaterials(geometry);
    std::sort(materials.begin(), materials.end());
    return materials;
}

}  // namespace

void LevelReloader::Service(Viewer& viewer)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stage_ == Stage::Textures) {
        if (Superseded(generation_)) {
            stage_ = Stage::None;
            handoff_.reset();
            return;
        }
        const std::shared_ptr<TextureHandoff> handoff = handoff_;
        const uint64_t generation = generation_;
        // The worker only reads the handoff once the stage is Building, which only this thread sets.
        lock.unlock();
        if (handoff->textures.size() < handoff->materials.size())
            LoadSomeTextures(viewer.renderer, *handoff);
        lock.lock();
        if (stage_ == Stage::Textures && generation_ == generation &&
            handoff->textures.size() == handoff->materials.size()) {
            stage_ = Stage::Building;
            lock.unlock();
            changed_.notify_all();
        }
        return;
    }
    if (stage_ == Stage::Failed) {
        stage_ = Stage::None;
        const std::string lines = std::move(failure_);
        if (!Superseded(generation_)) {
            lock.unlock();
            WriteConsole(lines);
        }
        return;
    }
    if (stage_ == Stage::Ready) {
        stage_ = Stage::None;
        // A newer result replaces one still going up.
        if (uploading_)
            DeleteRenderGeometry(uploading_->geometry);
        uploading_ = std::move(job_);
        uploadingGeneration_ = generation_;
        ReserveVertices(uploading_->geometry, uploading_->vertices.size());
    }
    if (!uploading_)
        return;
    const bool current = !Superseded(uploadingGeneration_);
    lock.unlock();
    ReloadJob& job = *uploading_;
    if (!current) {
        DeleteRenderGeometry(job.geometry);
        uploading_.reset();
        return;
    }
    const std::size_t count = std::min(kVerticesPerFrame, job.vertices.size() - job.verticesWritten);
    WriteVertices(job.geometry, job.vertices, job.verticesWritten, count);
    job.verticesWritten += count;
    if (job.verticesWritten == job.vertices.size()) {
        SwapIn(viewer, job);
        uploading_.reset();
    }
}

void LevelReloader::SwapIn(Viewer& viewer, ReloadJob& job)
{
    Renderer& renderer = viewer.renderer;
    RenderGeometry& geometry = job.geometry;
    job.vertices = std::vector<RenderVertex>();
    ConsoleLine("File opened");
    WriteConsole(job.textureLines);
    WriteConsole(job.parseLines);
    ConsoleLine("Done loading BSP file.");
    WriteConsole(job.buildLines);

    const bool sameMaterials = SortedMaterials(geometry) == SortedMaterials(renderer.geometry);
    std::swap(renderer.geometry, geometry);
    DeleteRenderGeometry(geometry);
    std::swap(viewer.level, job.level);
    std::vector<Light>& lights = viewer.level.lights;
    for (Light& light : lights)
        light.currentPosition = light.position;
    Options& options = viewer.options;
    options.selectedLight = lights.empty() ? 0 : options.selectedLight % static_cast<int>(lights.size());
    // The next frame renders every map and the depth as a first frame does, so the picture is a fresh start's.
    renderer.shadows.ForgetMaps();
    renderer.frame.firstFrame = true;
    // The short cuts were shown exact for the materials the probes drew; new ones are probed again.
    if (!sameMaterials)
        renderer.frame.shortCuts =
            CachedShortCuts(*renderer.shaders, renderer.geometry, renderer.fixedTextures.attenuation);
    // The old level goes with the job; its pages go back to the system at once rather than at the next trim.
    job = ReloadJob();
    malloc_trim(0);
}

void RequestLevelReload(Viewer& viewer, const std::string& path)
{
    if (!viewer.levelReload)
        viewer.levelReload = std::make_shared<LevelReloader>();
    viewer.levelReload->Request(path);
}

void ServiceLevelReload(Viewer& viewer)
{
    if (viewer.levelReload)
        viewer.levelReload->Service(viewer);
}
