// A test fixture that runs the viewer on a level text with the scene assets and takes its screenshots.
#pragma once

#include "SceneBuilder.h"
#include "ViewerHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

class ViewerTest : public testing::Test {
protected:
    // Writes the level and assets, starts the viewer and lets it draw for a moment.
    void Start(const std::string& levelText, const ViewerOptions& options = {})
    {
        WriteSceneAssets(dir);
        dir.Write("out.txt", levelText);
        viewer = std::make_unique<ViewerProcess>(dir, options);
        ASSERT_FALSE(viewer->WindowId().empty());
        ASSERT_TRUE(viewer->WaitForLine("Done loading BSP file."));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }

    // Presses u and loads the next numbered screenshot.
    Image Shot()
    {
        const std::string name = "shot" + std::to_string(shots++) + ".jpg";
        const std::string path = viewer->Screenshot(name);
        EXPECT_FALSE(path.empty()) << name;
        Image image = LoadImage(path);
        // A missing shot fails the test above; a black frame of the window's size keeps the checks in bounds.
        if (image.rgb.empty()) {
            image.width = 800;
            image.height = 600;
            image.rgb.assign(800 * 600 * 3, 0);
        }
        return image;
    }

    // Sends keys, then lets a few frames pass so that the next screenshot shows their effect.
    void Keys(std::initializer_list<const char*> keys)
    {
        for (const char* key : keys)
            viewer->Key(key);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
    }

    TempDir dir;
    std::unique_ptr<ViewerProcess> viewer;
    int shots = 0;
};
