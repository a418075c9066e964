// Time of each pass of the real frame: the viewer's start-up (Init) in the working directory, then frames at
// 800x600 whose passes are called one by one, each finished by the driver (glFinish) before its time is taken.
// The first light is timed on its own in frames of only that light, so the other lights' share is the difference.
// The first frame (every shadow cube rendered) is timed in two parts.
//
// Use: bench_frame_passes FRAMES animated|still   (in a directory with the level, its images and the .cg files)
// Prints one "pass <name> median_ms <t> cpu_ms <t>" line per pass (medians over the frames).

#include "Callbacks.h"
#include "FrameBench.h"
#include "Frame.h"
#include "FrameTimer.h"
#include "GlTestContext.h"
#include "Overlay.h"
#include "Startup.h"
#include "Viewer.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

// Wall-clock and processor time (all threads, the driver's rasterising threads included) of each pass. On a
// machine shared with other work the processor time shows the pass's own cost more steadily.
struct PassTimes {
    std::vector<double> wall;
    std::vector<double> processor;
};
std::map<std::string, PassTimes> passTimes;

double ProcessorSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9;
}

template <class Pass>
void Timed(const std::string& name, Pass&& pass)
{
    const auto start = std::chrono::steady_clock::now();
    const double processorStart = ProcessorSeconds();
    pass();
    glFinish();
    passTimes[name].wall.push_back(SecondsSince(start));
    passTimes[name].processor.push_back(ProcessorSeconds() - processorStart);
}

void TimedFrame(Viewer& viewer, float dt)
{
    Renderer& renderer = viewer.renderer;
    const FrameRequest request = viewer.Request();
    FrameTimer renderTimer;
    renderTimer.Start();
    AnimateLights(renderer, request, dt);
    BeginFrame(renderer);
    Timed("main view set-up", [&] { BeginMainView(renderer, request); });
    Timed("shadow", [&] { ShadowPass(renderer, request); });
    Timed("depth pre-pass", [&] { DepthPrePass(renderer); });
    viewer.options.onlyFirstLight = true;
    Timed("first light", [&] { LightPasses(renderer, request); });
    viewer.options.onlyFirstLight = false;
    Timed("all lights", [&] { LightPasses(renderer, request); });
    Timed("post", [&] { PostPass(renderer, request); });
    Timed("statistics",
          [&] { DrawFrameStats(viewer.frameStats, dt, renderTimer, viewer.windowWidth, viewer.windowHeight); });
    Timed("swap", [] { glutSwapBuffers(); });
    EndFrame(renderer);
}

}  // namespace

int main(int argc, char** argv)
{
    Viewer viewer;
    const int frames = std::max(
        1, static_cast<int>(StartFrameBenchmark(viewer, argc, argv, "bench_frame_passes FRAMES animated|still")));
    viewer.options.advanceTime = false;

    // The first frame renders the shadow cube of every light its view needs; its shadow pass is timed before the
    // rest of it.
    Timed("first frame: shadow pass", [&] {
        BeginMainView(viewer.renderer, viewer.Request());
        ShadowPass(viewer.renderer, viewer.Request());
    });
    Timed("first frame: the rest", [&] { OnDisplay(viewer); });
    for (int frame = 0; frame < frames; ++frame)
        TimedFrame(viewer, 1.0f / 30.0f);
    for (const auto& [name, times] : passTimes)
        std::printf("pass %s median_ms %.2f cpu_ms %.2f\n", name.c_str(), Median(times.wall) * 1e3,
                    Median(times.processor) * 1e3);
    return 0;
}
