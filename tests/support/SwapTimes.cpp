// Preloaded into a program under test: every glXSwapBuffers call appends the monotonic clock's reading at its
// return, in nanoseconds, as one line to the file that VELMORA_SWAP_TIMES names. The gaps between the lines are the
// program's frame times as the display sees them, recorded without the program's help.
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

extern "C" void glXSwapBuffers(Display* display, GLXDrawable drawable)
{
    using Swap = void (*)(Display*, GLXDrawable);
    static const Swap next = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    static const int log = [] {
        const char* path = std::getenv("VELMORA_SWAP_TIMES");
        return path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }();
    next(display, drawable);
    if (log < 0)
        return;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%lld\n", now.tv_sec * 1000000000LL + now.tv_nsec);
    if (write(log, line, std::size_t(length)) != length)
        return;
}
