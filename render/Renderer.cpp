#include "Renderer.h"

#include "ShortCutCache.h"

void LoadShadersAndShortCuts(Renderer& renderer)
{
    LoadShaders(*renderer.shaders);
    renderer.frame.shortCuts =
        CachedShortCuts(*renderer.shaders, renderer.geometry, renderer.fixedTextures.attenuation);
}

TextureSource LevelTextures(Renderer& renderer)
{
    TextureCache& cache = renderer.textures;
    return TextureSource{[&cache](const std::string& name) { return LoadTexture(cache, name); }, cache.FallbackTexture};
}
