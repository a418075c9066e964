#include "SceneBuilder.h"
#include "ViewerTest.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// A floor, a pillar and a back wall facing the camera, lit by one white light off to the left. Light 0 is black
// and stands behind the camera, so that the animated first light changes nothing; the lit light is the second,
// which never animates.
const Point kLight{150, 120, 0};
const Point kShadowed{400, -141, 0};  // on the wall, behind the pillar as seen from the light
const Point kLit{400, 100, 0};        // on the wall, in the open
const Point kBelowLight{150, 120, -100};
const Point kFarFloor{380, 120, -100};

std::string PillarLevel()
{
    SceneBuilder scene;
    scene.AddQuad("white", {-50, -400, -100}, {400, -400, -100}, {400, 400, -100}, {-50, 400, -100});
    scene.AddQuad("white", {400, -400, -100}, {400, -400, 300}, {400, 400, 300}, {400, 400, -100});
    scene.AddBox("white", {250, -15, -100}, {280, 15, 100});
    scene.AddLight({-100, 0, 0}, 10, {0, 0, 0});
    scene.AddLight(kLight, 800, {1, 1, 1});
    return scene.Text();
}

double BrightnessAt(const Image& image, Point p)
{
    const auto pixel = ProjectFromStart(p, image.width, image.height);
    return Brightness(image, pixel[0], pixel[1]);
}

// True when some pixel of the square around (x, y) is clearly red. JPEG smears thin red lines over grey, so red
// is judged by how far it stands above the other channels.
bool RedNear(const Image& image, int x, int y, int radius)
{
    for (int py = y - radius; py <= y + radius; ++py)
        for (int px = x - radius; px <= x + radius; ++px) {
            if (px < 0 || py < 0 || px >= image.width || py >= image.height)
                continue;
            const unsigned char* p = image.At(px, py);
            if (p[0] > p[1] + 50 && p[0] > p[2] + 50)
                return true;
        }
    return false;
}

using RenderTest = ViewerTest;

}  // namespace

TEST_F(RenderTest, StartUpPrintsTheLoadingLinesInOrderAndNoError)
{
    Start(PillarLevel());
    const std::vector<std::string> expected = {"File opened", "1 nodes.", "2 lights.", "Done loading BSP file.",
                                               "16 triangles."};
    EXPECT_EQ(viewer->Lines(), expected);
}

TEST_F(RenderTest, ThePillarShadowsTheFloorAndTheShadowFollowsTheLight)
{
    Start(PillarLevel());
    const Image before = Shot();
    ASSERT_EQ(before.width, 800);
    ASSERT_EQ(before.height, 600);
    const double lit = BrightnessAt(before, kLit);
    const double shadowed = BrightnessAt(before, kShadowed);
    const double below = BrightnessAt(before, kBelowLight);
    EXPECT_GT(lit, 150) << "the open wall is lit";
    EXPECT_LT(shadowed, 30) << "the wall behind the pillar is in shadow";
    EXPECT_GT(below, BrightnessAt(before, kFarFloor) + 40) << "the floor is brightest near the light";

    // Select the second light and bring it to the camera: the pillar's shadow now falls straight behind it, and
    // the light reaches the spot that was in shadow.
    Keys({"p", "n"});
    const Image after = Shot();
    EXPECT_GT(BrightnessAt(after, kShadowed), 120);
}

TEST_F(RenderTest, OptionsChangeThePassesDrawn)
{
    Start(PillarLevel());
    const double lit = BrightnessAt(Shot(), kLit);

    // Only the first (black) light: the floor goes dark.
    Keys({"j"});
    EXPECT_LT(BrightnessAt(Shot(), kLit), 20);
    Keys({"j"});

    // Wireframe: the inside of the wall shows the clear colour (0.25 grey) instead of the lit surface.
    Keys({"k"});
    const double wire = BrightnessAt(Shot(), kLit);
    EXPECT_NEAR(wire, 64, 20);
    EXPECT_GT(std::abs(wire - lit), 20);
    Keys({"k"});

    // Gizmos: the selected light's box is red; boxes only in mode 1.
    const auto lightPixel = ProjectFromStart(kLight);
    EXPECT_FALSE(RedNear(Shot(), lightPixel[0], lightPixel[1], 12));
    Keys({"p", "l"});
    EXPECT_TRUE(RedNear(Shot(), lightPixel[0], lightPixel[1], 12));
    // Mode 2 adds the radius circles: the one in the light's XY plane crosses the view's horizon far from the box.
    Keys({"l"});
    const Image circles = Shot();
    bool redFarAway = false;
    for (int x = 0; x < circles.width && !redFarAway; ++x)
        redFarAway = std::abs(x - lightPixel[0]) > 40 && RedNear(circles, x, lightPixel[1], 2);
    EXPECT_TRUE(redFarAway);
}

TEST_F(RenderTest, ALevelWithoutGeometryShowsTheClearColourThroughThePostPass)
{
    // Lights without any surface to light: the target holds only the clear colour.
    SceneBuilder scene;
    scene.AddQuad("white", {-10, -10, 5000}, {-10, 10, 5000}, {10, 10, 5000}, {10, -10, 5000});
    scene.AddLight({0, 0, 0}, 100, {1, 1, 1});
    Start(scene.Text());
    const Image image = Shot();
    EXPECT_NEAR(Brightness(image, 400, 300), 64, 6);
    EXPECT_NEAR(Brightness(image, 700, 500), 64, 6);
}

TEST_F(RenderTest, AResizeRebuildsTheTargetAtTheNewSize)
{
    Start(PillarLevel());
    viewer->Resize(642, 481);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const Image image = Shot();
    ASSERT_EQ(image.width, 642);
    ASSERT_EQ(image.height, 481);
    // The lit floor is where the new aspect ratio puts it, and the pillar's edge stands upright (no row skew).
    EXPECT_GT(BrightnessAt(image, kLit), 60);
    const auto top = ProjectFromStart({250, -15, 80}, 642, 481);
    const auto bottom = ProjectFromStart({250, -15, -80}, 642, 481);
    auto edgeAt = [&](int y, int guess) {
        int best = guess, bestStep = 0;
        for (int x = guess - 15; x <= guess + 15; ++x) {
            const int step =
                std::abs(static_cast<int>(image.At(x + 1, y)[0]) - static_cast<int>(image.At(x - 1, y)[0]));
            if (step > bestStep) {
                bestStep = step;
                best = x;
            }
        }
        return best;
    };
    const int topEdge = edgeAt(top[1], top[0]);
    const int bottomEdge = edgeAt(bottom[1], bottom[0]);
    EXPECT_NEAR(topEdge, top[0], 3);
    EXPECT_NEAR(bottomEdge, bottom[0], 3);
    EXPECT_TRUE(viewer->Running());
}
