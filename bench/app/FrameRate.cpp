// Frames per second of the real frame: the viewer's start-up (Init) in the working directory, then OnDisplay in a
// loop for a fixed time at 800x600, with the lights animated or still. The count of rendered shadow faces after
// the first and after the last frame shows whether a still scene renders shadow faces after its first frame.
//
// Use: bench_frames SECONDS animated|still   (in a directory with the level, its images and the .cg files)
// Prints "renderer <GL renderer>, <GL version>" and "frames <count> seconds <s> fps <f> median_ms <m> faces_first <n>
// faces_last <n>".

#include "Callbacks.h"
#include "FrameBench.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// One frame, finished by the driver before the time is taken.
double FrameSeconds(Viewer& viewer)
{
    const auto start = std::chrono::steady_clock::now();
    OnDisplay(viewer);
    glFinish();
    return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv)
{
    Viewer viewer;
    const double duration = StartFrameBenchmark(viewer, argc, argv, "bench_frames SECONDS animated|still");
    std::printf("renderer %s, %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));

    FrameSeconds(viewer);
    const long facesFirst = viewer.renderer.frame.shadowFacesRendered;
    std::vector<double> frames;
    const auto start = std::chrono::steady_clock::now();
    while (SecondsSince(start) < duration)
        frames.push_back(FrameSeconds(viewer));
    const double seconds = SecondsSince(start);
    std::printf("frames %zu seconds %.3f fps %.2f median_ms %.2f faces_first %ld faces_last %ld\n", frames.size(),
                seconds, double(frames.size()) / seconds, Median(frames) * 1e3, facesFirst,
                viewer.renderer.frame.shadowFacesRendered);
    return 0;
}
