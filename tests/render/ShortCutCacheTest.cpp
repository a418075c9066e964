// The kept short-cut decision: the same as the probes' on a cold and on a warm cache, and never taken once the
// programs or the textures the probes read have changed.
#include "GlTestContext.h"
#include "ResultCache.h"
#include "ShortCutCache.h"
#include "Startup.h"
#include "Viewer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* kLevel =
    "BSP BBOXES (0 0 0)(1 1 1) ENTITIES\na 100 0 0 300 1 1 1\n"
    "LEAF floor|(0 0 0)(0 0 0)|0 |(0 -200 -40) 0 0 0 0 |(400 -200 -40) 1 0 0 0 |(400 200 -40) 1 1 0 0\n"
    "NODE (1 0 0) 0 L0 L0\n";

std::vector<bool> Fields(const ShortCuts& c)
{
    return {c.cullPrePass,    c.cullLightPasses,   c.cullShadowFaces,    c.cullLightSpheres,
            c.cullFirstLight, c.cullShadowSpheres, c.skipPostColourClear};
}

TEST(ShortCutCacheTest, KeptDecisionsMatchTheProbesAndGoStaleWithTheirInputs)
{
    const fs::path directory = fs::temp_directory_path() / ("velmora-shortcuts-" + std::to_string(getpid()));
    fs::create_directories(directory / "cache");
    for (const char* shader : {"shader.cg", "ambient.cg", "shadow.cg", "post.cg"})
        fs::copy_file(fs::path(VELMORA_DATA_DIR) / shader, directory / shader, fs::copy_options::overwrite_existing);
    std::ofstream(directory / "out.txt") << kLevel;
    const fs::path previous = fs::current_path();
    fs::current_path(directory);
    const char* cacheHome = std::getenv("XDG_CACHE_HOME");
    const std::string previousCacheHome = cacheHome != nullptr ? cacheHome : "";
    setenv("XDG_CACHE_HOME", (directory / "cache").c_str(), 1);
    CreateGlTestContext();
    Viewer viewer;
    ASSERT_TRUE(Init(viewer).Ok());
    Renderer& renderer = viewer.renderer;
    ShaderPairs& shaders = *renderer.shaders;
    const GLuint attenuation = renderer.fixedTextures.attenuation;

    // Cold at Init, warm now: both as the probes decide.
    const std::vector<bool> probed = Fields(DecideShortCuts(shaders, renderer.geometry, attenuation));
    EXPECT_EQ(Fields(renderer.frame.shortCuts), probed);
    EXPECT_EQ(Fields(CachedShortCuts(shaders, renderer.geometry, attenuation)), probed);

    // A planted answer is taken under its own key, so the cases below see whether the key still matches.
    const auto plant = [&] {
        StoreCachedResult(ResultCacheDirectory(), "shortcuts", ShortCutKey(shaders, renderer.geometry), "0101010");
    };
    const std::vector<bool> planted = {false, true, false, true, false, true, false};
    plant();
    ASSERT_EQ(Fields(CachedShortCuts(shaders, renderer.geometry, attenuation)), planted);

    struct Change {
        const char* name;
        std::function<void()> apply;
    };
    const Change changes[] = {
        {"one texel of a level texture",
         [&] {
             const unsigned char texel = 77;
             glBindTexture(GL_TEXTURE_2D, renderer.textures.FallbackTexture);
             glTexSubImage2D(GL_TEXTURE_2D, 0, 3, 5, 1, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE, &texel);
         }},
        {"a comment in a shader file, reloaded",
         [&] {
             std::ofstream(directory / "ambient.cg", std::ios::app) << "\n// changed\n";
             LoadShaders(shaders);
         }},
    };
    for (const Change& change : changes) {
        plant();
        change.apply();
        EXPECT_EQ(Fields(CachedShortCuts(shaders, renderer.geometry, attenuation)), probed) << change.name;
    }
    fs::current_path(previous);
    fs::remove_all(directory);
    previousCacheHome.empty() ? unsetenv("XDG_CACHE_HOME") : setenv("XDG_CACHE_HOME", previousCacheHome.c_str(), 1);
}

}  // namespace
