#include "Watch.h"

#include "LevelReload.h"
#include "PerfCounter.h"
#include "Viewer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

void WatchPath(WatchState& watch, const std::string& path, WatchState::Target target)
{
    // An image named with a directory that does not exist has three files there; one line says it.
    const std::string directory = fs::path(path).parent_path();
    if (watch.refusedDirectories.count(directory) != 0)
        return;
    std::string why;
    if (!watch.files.Add(path, &why)) {
        std::fprintf(stderr, "velmora-viewer: cannot watch '%s': %s\n", path.c_str(), why.c_str());
        watch.refusedDirectories.insert(directory);
        return;
    }
    watch.targets.emplace(path, std::move(target));
}

// The level may ask for more images after start-up (a reloaded level with new materials).
void WatchNewImages(WatchState& watch, const TextureCache& textures)
{
    const std::vector<std::string>& names = textures.requestedNames;
    for (; watch.imageNamesWatched < names.size(); ++watch.imageNamesWatched) {
        const std::string& name = names[watch.imageNamesWatched];
        for (const std::string& path : TextureFilePaths(name))
            WatchPath(watch, path, {WatchState::Kind::Image, name});
    }
}

// Changed images replace their textures' contents under the same ids, for up to 8 ms of each frame (one image at
// least), so that a tool that rewrites every image does not stall one frame for all of them. An image that was
// missing is in no texture: the level's triangles hold the fallback, so the level is read again and asks for it.
constexpr int64_t kImageNanoseconds = 8'000'000;

void ReloadWaitingImages(WatchState& watch, TextureCache& textures)
{
    if (!watch.decoder)
        watch.decoder.emplace();
    const int64_t start = QueryPerformanceCounter();
    do {
        const std::string name = std::move(watch.imagesToReload.front());
        watch.imagesToReload.pop_front();
        if (!ReloadTexture(textures, name) && ForgetMissingTexture(textures, name))
            watch.levelToReload = true;
    } while (!watch.imagesToReload.empty() && QueryPerformanceCounter() - start < kImageNanoseconds);
    if (watch.imagesToReload.empty())
        watch.decoder.reset();
}

}  // namespace

void StartWatch(Viewer& viewer)
{
    WatchState& watch = viewer.watch.emplace();
    watch.levelPath = viewer.level.filePath;
    if (!watch.levelPath.empty())
        WatchPath(watch, watch.levelPath, {WatchState::Kind::Level, {}});
    for (const std::string& path : ShaderFileNames())
        WatchPath(watch, path, {WatchState::Kind::Shader, {}});
    WatchNewImages(watch, viewer.renderer.textures);
}

void ServiceWatch(Viewer& viewer)
{
    if (!viewer.watch)
        return;
    WatchState& watch = *viewer.watch;
    TextureCache& textures = viewer.renderer.textures;
    if (watch.imageNamesWatched < textures.requestedNames.size())
        WatchNewImages(watch, textures);
    bool shaders = false;
    for (const std::string& path : watch.files.Poll(QueryPerformanceCounter())) {
        const WatchState::Target& target = watch.targets.at(path);
        std::deque<std::string>& images = watch.imagesToReload;
        switch (target.kind) {
        case WatchState::Kind::Level:
            watch.levelToReload = true;
            break;
        case WatchState::Kind::Shader:
            shaders = true;
            break;
        case WatchState::Kind::Image:
            if (std::find(images.begin(), images.end(), target.name) == images.end())
                images.push_back(target.name);
            break;
        }
    }
    if (shaders)
        LoadShadersAndShortCuts(viewer.renderer);
    if (!watch.imagesToReload.empty())
        ReloadWaitingImages(watch, textures);
    if (watch.levelToReload && watch.imagesToReload.empty()) {
        watch.levelToReload = false;
        if (!watch.levelPath.empty())
            RequestLevelReload(viewer, watch.levelPath);
    }
}
