// A GL context with the image library, and a fresh working directory with an empty texture cache and a running image
// decoder for each test.
#pragma once

#include "GlTestContext.h"
#include "ImageDecoder.h"
#include "Startup.h"
#include "TextureCache.h"

#define ILUT_USE_OPENGL
#include <IL/il.h>
#include <IL/ilut.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

class TextureDirectoryTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CreateGlTestContext();
        ilInit();
        ilutRenderer(ILUT_OPENGL);
    }

    void SetUp() override
    {
        char pattern[] = "/tmp/velmora-textures-XXXXXX";
        directory_ = mkdtemp(pattern);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);
        textureCache.FallbackTexture = CreateCheckerTexture();
        ASSERT_TRUE(StartImageDecoder());
    }

    void TearDown() override
    {
        StopImageDecoder();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }

    std::filesystem::path directory_, previous_;
    TextureCache textureCache;
};
