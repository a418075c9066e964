// Runs the real viewer binary in a temporary working directory under the test's X display, reads its console
// lines, sends it real key and mouse events through xdotool and loads the screenshots it saves.
#pragma once

#include "TestSupport.h"

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

// Copies a file of the source tree's data/ folder into dir.
void CopyData(const TempDir& dir, const std::string& name);

struct ViewerOptions {
    // Added to the viewer's environment. Unless it names XDG_CACHE_HOME, the viewer keeps its results in an empty
    // directory of its own, so that every start compiles and probes as the first one would.
    std::map<std::string, std::string> environment;
    // Runs the viewer as an unprivileged user when the test runs as root, so that file permissions apply to it.
    // That user runs a copy of the binary in a world-readable directory, since the checkout may lie where only
    // root can reach (a home directory of mode 700).
    bool unprivileged = false;
    std::vector<std::string> arguments = {};   // the viewer's command line after its name
    unsigned long long addressSpaceLimit = 0;  // bytes of RLIMIT_AS for the viewer; 0 leaves the limit as it is
};

class ViewerProcess {
public:
    // Starts the viewer in dir; its standard output and error go to a file.
    explicit ViewerProcess(const TempDir& dir, const ViewerOptions& options = {});
    ~ViewerProcess();
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    // Everything the process has printed so far, split into lines.
    std::vector<std::string> Lines() const;
    // Waits until a line equal to text has been printed; false on time-out or exit.
    bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits for the process to end; returns its exit code, or -1 on time-out (the process then still runs).
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool Running();
    pid_t Pid() const { return pid_; }
    // Finds the viewer's window (waits for it to be mapped); empty when there is none in time.
    std::string WindowId(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Real X events through xdotool, addressed to the viewer's window.
    void Key(const std::string& keysym);
    void KeyDown(const std::string& keysym);
    void KeyUp(const std::string& keysym);
    void Resize(int width, int height);
    // Presses u and waits until the screenshot file appears (expectedName in the directory the viewer was started
    // in, or an absolute path); returns its path, empty on time-out.
    std::string Screenshot(const std::string& expectedName);

private:
    void Xdotool(const std::string& arguments);

    std::string outputPath_;
    std::string directory_;
    std::string binaryCopyDirectory_;    // removed with the process object; empty when the build's binary runs
    TempDir cacheHome_{"viewer-cache"};  // the viewer's own cache directory, unless the options name one
    std::string window_;
    pid_t pid_ = -1;
    int exitCode_ = -1;
};

// An RGB image loaded with DevIL, rows bottom to top as saved by the viewer.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};
// Loads an image file; an empty image when it cannot be read.
Image LoadImage(const std::string& path);

// Sets the X server's key repeat: the first repeat after delay milliseconds, then one every interval.
void SetKeyRepeat(int delay, int interval);

// Runs a shell command and returns its standard output without trailing line breaks; the exit status goes to
// *exitStatus when given (-1 when the command did not exit normally).
std::string CommandOutput(const std::string& command, int* exitStatus = nullptr);

// Path of the data/ folder of the source tree.
std::string DataDirectory();
