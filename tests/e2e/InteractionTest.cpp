#include "SceneBuilder.h"
#include "ViewerTest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

namespace {

using InteractionTest = ViewerTest;
using std::chrono::milliseconds;

// A wall straight ahead and one white light between it and the camera.
std::string WallLevel(double radius)
{
    SceneBuilder scene;
    scene.AddQuad("white", {300, -400, -300}, {300, -400, 300}, {300, 400, 300}, {300, 400, -300});
    scene.AddLight({150, 0, 0}, radius, {1, 1, 1});
    return scene.Text();
}

bool Red(const unsigned char* p) { return p[0] > p[1] + 50 && p[0] > p[2] + 50; }

// Centre of the red pixels in the square of the given radius around (x, y); {-1, -1} when there are none.
std::array<double, 2> RedCentre(const Image& image, int x, int y, int radius)
{
    double sumX = 0, sumY = 0;
    int count = 0;
    for (int py = std::max(0, y - radius); py < std::min(image.height, y + radius); ++py)
        for (int px = std::max(0, x - radius); px < std::min(image.width, x + radius); ++px)
            if (Red(image.At(px, py))) {
                sumX += px;
                sumY += py;
                ++count;
            }
    if (count == 0)
        return {-1, -1};
    return {sumX / count, sumY / count};
}

// Mean absolute difference of two images of the same size, over all channels.
double Difference(const Image& a, const Image& b)
{
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i)
        sum += std::abs(static_cast<int>(a.rgb[i]) - static_cast<int>(b.rgb[i]));
    return sum / a.rgb.size();
}

void Hold(ViewerProcess& viewer, const char* key, int ms)
{
    viewer.KeyDown(key);
    std::this_thread::sleep_for(milliseconds(ms));
    viewer.KeyUp(key);
    std::this_thread::sleep_for(milliseconds(500));
}

}  // namespace

TEST_F(InteractionTest, HoldingUSavesOneScreenshotPerPress)
{
    Start(WallLevel(400));
    Hold(*viewer, "u", 1500);
    EXPECT_TRUE(dir.Exists("shot0.jpg"));
    EXPECT_FALSE(dir.Exists("shot1.jpg"));
    viewer->Key("u");
    std::this_thread::sleep_for(milliseconds(800));
    EXPECT_TRUE(dir.Exists("shot1.jpg"));
    EXPECT_FALSE(dir.Exists("shot2.jpg"));
}

TEST_F(InteractionTest, ScreenshotsStepOverExistingFiles)
{
    for (int i = 0; i < 5; ++i)
        dir.Write("shot" + std::to_string(i) + ".jpg", "not an image");
    shots = 5;
    Start(WallLevel(400));
    const Image first = Shot();
    EXPECT_EQ(first.width, 800);
    EXPECT_EQ(first.height, 600);
    EXPECT_FALSE(Shot().rgb.empty());  // shot6.jpg
    EXPECT_FALSE(dir.Exists("shot7.jpg"));
    std::ifstream kept(dir.File("shot0.jpg"));
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "not an image");
}

TEST_F(InteractionTest, HeldTogglesActOnEveryRepeat)
{
    // Repeats every 1000 ms after a 500 ms delay: a key held for 1000 ms arrives twice and one held for 2000 ms three
    // times, each 500 ms away from another count, so a busy machine's late key release changes nothing.
    SetKeyRepeat(500, 1000);
    Start(WallLevel(100));
    const auto light = ProjectFromStart({150, 0, 0});
    const auto circleTop = ProjectFromStart({150, 0, 100});

    // l twice: boxes and circles. The selected (first) light's gizmo is red.
    Hold(*viewer, "l", 1000);
    Image image = Shot();
    EXPECT_NE(RedCentre(image, light[0], light[1], 40)[0], -1);
    EXPECT_NE(RedCentre(image, circleTop[0], circleTop[1], 20)[0], -1);  // the animation moves it a little

    // Space twice: the animation is still on, so the light's box keeps moving.
    Hold(*viewer, "space", 1000);
    const auto before = RedCentre(Shot(), light[0], light[1], 40);
    std::this_thread::sleep_for(milliseconds(1000));
    const auto after = RedCentre(Shot(), light[0], light[1], 40);
    EXPECT_GT(std::hypot(after[0] - before[0], after[1] - before[1]), 4);

    // Space three times: off, and the box stands still.
    Hold(*viewer, "space", 2000);
    const auto stopped = RedCentre(Shot(), light[0], light[1], 40);
    std::this_thread::sleep_for(milliseconds(1000));
    const auto still = RedCentre(Shot(), light[0], light[1], 40);
    EXPECT_LT(std::hypot(still[0] - stopped[0], still[1] - stopped[1]), 1);
    SetKeyRepeat(660, 40);
}

TEST_F(InteractionTest, WMovesTheViewAndUpperCaseWDoesNothing)
{
    Start(WallLevel(400));
    Keys({"space", "t"});  // a still scene: light and post-processing clock stopped
    const Image start = Shot();
    Hold(*viewer, "W", 1000);
    const Image afterUpper = Shot();
    EXPECT_LT(Difference(start, afterUpper), 1.0);
    Hold(*viewer, "w", 1000);
    const Image afterLower = Shot();
    EXPECT_GT(Difference(start, afterLower), 5.0);
}

TEST_F(InteractionTest, TheStatisticsLineIsDrawnInTheLowerLeftCorner)
{
    Start(WallLevel(400));
    std::this_thread::sleep_for(milliseconds(1200));
    const Image image = Shot();
    auto whiteIn = [&](int x0, int x1, int y0, int y1) {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const unsigned char* p = image.At(x, y);
                count += p[0] > 200 && p[1] > 200 && p[2] > 200;
            }
        return count;
    };
    // The wall is far from white near the floor line; the text is drawn in white from (3, 3).
    EXPECT_GT(whiteIn(0, 60, 0, 20), 10);
    EXPECT_EQ(whiteIn(600, 800, 0, 20), 0);
}

TEST_F(InteractionTest, AScreenshotThatCannotBeSavedIsReportedAndTheViewerGoesOn)
{
    // Only the viewer's own permissions keep it from writing: as root it runs as an unprivileged user.
    chmod(dir.Path().c_str(), 0755);
    Start(WallLevel(400), ViewerOptions{{}, true});
    if (geteuid() != 0)
        chmod(dir.Path().c_str(), 0555);
    viewer->Key("u");
    EXPECT_TRUE(viewer->WaitForLine("Could not save screenshot shot0.jpg", std::chrono::seconds(10)));
    viewer->Key("u");
    EXPECT_TRUE(viewer->WaitForLine("Could not save screenshot shot1.jpg", std::chrono::seconds(10)));
    EXPECT_TRUE(viewer->WaitForLine("velmora-viewer: could not write shot1.jpg: Permission denied"));
    EXPECT_FALSE(dir.Exists("shot0.jpg"));
    EXPECT_TRUE(viewer->Running());
    chmod(dir.Path().c_str(), 0755);
}
