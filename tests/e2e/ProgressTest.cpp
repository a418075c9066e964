// A level that takes seconds to load: the window shows the progress bar meanwhile, a terminal on standard error sees
// the progress line, and standard error that is not a terminal gets nothing beyond the console lines.

#include "ViewerHarness.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

class LoadProgressTest : public ::testing::Test {
protected:
    // Three million triangles: the parse alone outlasts the half second before progress shows, also on a fast
    // machine (a million took about half a second in all on a quiet one).
    static void SetUpTestSuite()
    {
        level_ = std::make_unique<TempDir>("progress");
        CommandOutput(std::string(VELMORA_LEVELGEN) + " --out " + level_->Path() + " --triangles 3000000");
    }
    static void TearDownTestSuite() { level_.reset(); }

    static std::unique_ptr<TempDir> level_;
};
std::unique_ptr<TempDir> LoadProgressTest::level_;

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// The share of pixels near the bar's background colour in the window's area of the screen; -1 when it cannot be
// read (the window is not mapped yet, say).
double BarBackgroundShare(const std::string& windowId)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return -1;
    XSetErrorHandler(IgnoreXError);
    const Window window = std::strtoul(windowId.c_str(), nullptr, 10);
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    int x0 = 0, y0 = 0;
    Window child;
    double share = -1;
    if (XGetWindowAttributes(display, window, &attributes) != 0 &&
        XTranslateCoordinates(display, window, root, 0, 0, &x0, &y0, &child) != 0) {
        // Without a window manager the window's border puts its origin at -1, -1, off the screen.
        const int width = attributes.width + std::min(x0, 0), height = attributes.height + std::min(y0, 0);
        if (XImage* image =
                XGetImage(display, root, std::max(x0, 0), std::max(y0, 0), width, height, AllPlanes, ZPixmap)) {
            long near = 0, all = 0;
            for (int y = 0; y < image->height; y += 4)
                for (int x = 0; x < image->width; x += 4, ++all) {
                    const unsigned long pixel = XGetPixel(image, x, y);
                    const int r = (pixel >> 16) & 255, g = (pixel >> 8) & 255, b = pixel & 255;
                    near += std::abs(r - 20) <= 3 && std::abs(g - 20) <= 3 && std::abs(b - 25) <= 3;
                }
            share = all == 0 ? -1 : double(near) / double(all);
            XDestroyImage(image);
        }
    }
    XCloseDisplay(display);
    return share;
}

// Whether the viewer has printed the line.
bool Printed(const ViewerProcess& viewer, const std::string& text)
{
    for (const std::string& line : viewer.Lines())
        if (line == text)
            return true;
    return false;
}

TEST_F(LoadProgressTest, TheWindowShowsTheBarWhileTheLevelLoadsThenTheLevel)
{
    ViewerProcess viewer(*level_);
    const std::string window = viewer.WindowId(std::chrono::seconds(60));
    ASSERT_FALSE(window.empty());
    // The window maps once the load has taken half a second; the bar shows until the first frame.
    double barShare = -1;
    // Deadlines long enough for an instrumented build, which loads the level many times slower.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (std::chrono::steady_clock::now() < deadline && barShare < 0.5 && !Printed(viewer, "2974520 triangles.")) {
        barShare = BarBackgroundShare(window);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(barShare, 0.5) << "no progress bar seen in the window during the load";
    // Then the level's first frame replaces it.
    while (std::chrono::steady_clock::now() < deadline && BarBackgroundShare(window) > 0.1)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LT(BarBackgroundShare(window), 0.1) << "the window still shows the bar";
    // Standard error is no terminal here: the output holds the console lines alone.
    for (const std::string& line : viewer.Lines()) {
        EXPECT_EQ(line.find("Loading"), std::string::npos) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    }
}

TEST_F(LoadProgressTest, ATerminalOnStandardErrorSeesOneUpdatingLine)
{
    const std::string output = level_->File("terminal.txt");
    // The shell inside the terminal records its pid and becomes the viewer, so that the viewer itself can be ended:
    // one left running would keep its window for the tests after this one.
    const std::string pidFile = level_->File("viewer.pid");
    CommandOutput("cd " + level_->Path() + " && (script -qfec 'sh -c \"echo \\$\\$ > " + pidFile +
                  "; exec timeout 400 " VELMORA_VIEWER_PATH "\"' /dev/null > " + output + " 2>&1 &)");
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (std::chrono::steady_clock::now() < deadline && text.find("\n2974520 triangles.") == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        text = ReadFileText(output);
    }
    // timeout hands the signal on to the viewer, and ends once the viewer has.
    const pid_t viewer = std::atoi(ReadFileText(pidFile).c_str());
    ASSERT_GT(viewer, 0);
    kill(viewer, SIGTERM);
    const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (kill(viewer, 0) == 0 && std::chrono::steady_clock::now() < gone)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(text.find("\r\033[KLoading: level, "), std::string::npos) << text;
    // The line makes way for the console lines that end the parse.
    EXPECT_NE(text.find("\r\033[K16383 nodes.\r\n"), std::string::npos) << text;
}

}  // namespace
