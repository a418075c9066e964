#include "Renderer.h"

#include "ShortCutCache.h"

void LoadShadersAndShortCuts(Renderer& renderer)
{
    LoadShaders(*renderer.shaders);
    // Maps that only some lights keep would otherwise mix the old shadow program's output with the new one's.
    renderer.shadows.RedrawMaps();
    renderer.frame.shortCuts =
        CachedShortCuts(*renderer.shaders, renderer.geometry, renderer.fixedTextures.attenuation);
}

TextureSource LevelTextures(Renderer& renderer)
{
    TextureCache& cache = renderer.textures;
    TextureSource source;
    source.loadTexture = [&cache](const std::string& name) { return LoadTexture(cache, name); };
    source.fallbackTexture = cache.FallbackTexture;
    return source;
}
