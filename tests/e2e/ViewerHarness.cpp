#include "ViewerHarness.h"

#include <IL/il.h>

#include <X11/XKBlib.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// Copies the viewer binary into a fresh directory that every user may enter; returns the directory, or "" on failure.
std::string WorldReadableViewerCopy()
{
    char pattern[] = "/tmp/velmora-viewer-XXXXXX";
    if (!mkdtemp(pattern))
        return "";
    const std::string directory = pattern;
    std::error_code error;
    fs::permissions(directory,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    error);
    fs::copy_file(VELMORA_VIEWER_PATH, directory + "/velmora-viewer", error);
    if (error) {
        fs::remove_all(directory, error);
        return "";
    }
    return directory;
}

}  // namespace

void CopyData(const TempDir& dir, const std::string& name)
{
    fs::copy_file(DataDirectory() + "/" + name, dir.File(name), fs::copy_options::overwrite_existing);
}

ViewerProcess::ViewerProcess(const TempDir& dir, const ViewerOptions& options)
    : outputPath_(dir.File(".viewer-output")), directory_(dir.Path())
{
    const bool dropPrivileges = options.unprivileged && geteuid() == 0;
    if (dropPrivileges)
        binaryCopyDirectory_ = WorldReadableViewerCopy();
    const std::string binary =
        binaryCopyDirectory_.empty() ? std::string(VELMORA_VIEWER_PATH) : binaryCopyDirectory_ + "/velmora-viewer";
    // The driver keeps its own shader cache where it was, so that a viewer's fresh cache directory slows no start.
    const char* xdgCache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const std::string driverCache = xdgCache != nullptr ? xdgCache
                                    : home != nullptr   ? std::string(home) + "/.cache"
                                                        : "";
    pid_ = fork();
    if (pid_ == 0) {
        if (!driverCache.empty())
            setenv("MESA_SHADER_CACHE_DIR", driverCache.c_str(), 0);
        setenv("XDG_CACHE_HOME", cacheHome_.Path().c_str(), 1);
        if (chdir(directory_.c_str()) != 0)
            _exit(126);
        const int out = open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        close(out);
        for (const auto& [name, value] : options.environment)
            setenv(name.c_str(), value.c_str(), 1);
        if (options.addressSpaceLimit != 0) {
            const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                _exit(124);
        }
        if (dropPrivileges) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
                _exit(125);
        }
        std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
        for (const std::string& argument : options.arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
}

ViewerProcess::~ViewerProcess()
{
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (!binaryCopyDirectory_.empty()) {
        std::error_code ignored;
        fs::remove_all(binaryCopyDirectory_, ignored);
    }
}

std::vector<std::string> ViewerProcess::Lines() const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadWholeFile(outputPath_));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

bool ViewerProcess::Running()
{
    if (pid_ <= 0)
        return false;
    if (exitCode_ != -1)
        return false;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == 0)
        return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

bool ViewerProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        for (const std::string& line : Lines())
            if (line == text)
                return true;
        if (!Running()) {
            for (const std::string& line : Lines())
                if (line == text)
                    return true;
            return false;
        }
        Pause(20);
    }
    return false;
}

int ViewerProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        if (!Running())
            return exitCode_;
        Pause(20);
    }
    return -1;
}

std::string ViewerProcess::WindowId(std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (window_.empty() && Clock::now() < end && Running()) {
        window_ = CommandOutput("xdotool search --onlyvisible --name '^VelmoraViewer$' 2>/dev/null | tail -n 1");
        if (window_.empty())
            Pause(50);
    }
    if (!window_.empty())
        Xdotool("windowfocus --sync " + window_);
    return window_;
}

void ViewerProcess::Xdotool(const std::string& arguments)
{
    const std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "xdotool %s failed\n", arguments.c_str());
}

void ViewerProcess::Key(const std::string& keysym)
{
    WindowId();
    Xdotool("key " + keysym);
}

void ViewerProcess::KeyDown(const std::string& keysym)
{
    WindowId();
    Xdotool("keydown " + keysym);
}

void ViewerProcess::KeyUp(const std::string& keysym)
{
    WindowId();
    Xdotool("keyup " + keysym);
}

void ViewerProcess::Resize(int width, int height)
{
    WindowId();
    Xdotool("windowsize --sync " + window_ + " " + std::to_string(width) + " " + std::to_string(height));
}

namespace {

// Waits up to `seconds` for the file at path to exist and stop growing.
bool WaitForWholeFile(const std::string& path, int seconds)
{
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && info.st_size > 0) {
            Pause(200);
            struct stat later;
            if (stat(path.c_str(), &later) == 0 && later.st_size == info.st_size)
                return true;
        }
        Pause(50);
    }
    return false;
}

}  // namespace

std::string ViewerProcess::Screenshot(const std::string& expectedName)
{
    const std::string path = expectedName[0] == '/' ? expectedName : directory_ + "/" + expectedName;
    Key("u");
    if (WaitForWholeFile(path, 30))
        return path;
    return "";
}

Image LoadImage(const std::string& path)
{
    static bool initialised = false;
    if (!initialised) {
        ilInit();
        initialised = true;
    }
    Image image;
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
    if (ilLoadImage(path.c_str())) {
        image.width = ilGetInteger(IL_IMAGE_WIDTH);
        image.height = ilGetInteger(IL_IMAGE_HEIGHT);
        image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
        ilCopyPixels(0, 0, 0, image.width, image.height, 1, IL_RGB, IL_UNSIGNED_BYTE, image.rgb.data());
    }
    ilDeleteImages(1, &name);
    return image;
}

void SetKeyRepeat(int delay, int interval)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XkbSetAutoRepeatRate(display, XkbUseCoreKbd, delay, interval);
    XCloseDisplay(display);
}

std::string CommandOutput(const std::string& command, int* exitStatus)
{
    std::string result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        result += buffer;
    const int status = pclose(pipe);
    if (exitStatus)
        *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!result.empty() && (result.back() == '\n' || result.back() == ' '))
        result.pop_back();
    return result;
}

std::string DataDirectory() { return VELMORA_DATA_DIR; }
