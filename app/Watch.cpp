#include "Watch.h"

#include "LevelReload.h"
#include "PerfCounter.h"
#include "Viewer.h"

#include <cstdio>
#include <vector>

namespace {

void WatchPath(WatchState& watch, const std::string& path, WatchState::Target target)
{
    std::string why;
    if (!watch.files.Add(path, &why)) {
        std::fprintf(stderr, "velmora-viewer: cannot watch '%s': %s\n", path.c_str(), why.c_str());
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

// Changed images replace their textures' contents under the same ids. An image that was missing is not in any
// texture: the level's triangles hold the fallback, so the level is read again and asks for it anew. True when
// that is needed.
bool ReloadImages(TextureCache& textures, const std::vector<std::string>& names)
{
    bool appeared = false;
    const ImageDecoderSession decoder;
    for (const std::string& name : names)
        if (!ReloadTexture(textures, name))
            appeared = ForgetMissingTexture(textures, name) || appeared;
    return appeared;
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
    const std::vector<std::string> settled = watch.files.Poll(QueryPerformanceCounter());
    if (settled.empty())
        return;
    bool level = false, shaders = false;
    std::vector<std::string> images;
    for (const std::string& path : settled) {
        const WatchState::Target& target = watch.targets.at(path);
        switch (target.kind) {
        case WatchState::Kind::Level:
            level = true;
            break;
        case WatchState::Kind::Shader:
            shaders = true;
            break;
        case WatchState::Kind::Image:
            // A name's files are adjacent in the order they were watched, so one look back removes repeats.
            if (images.empty() || images.back() != target.name)
                images.push_back(target.name);
            break;
        }
    }
    if (!images.empty())
        level = ReloadImages(textures, images) || level;
    if (shaders)
        LoadShadersAndShortCuts(viewer.renderer);
    if (level && !watch.levelPath.empty())
        RequestLevelReload(viewer, watch.levelPath);
}
