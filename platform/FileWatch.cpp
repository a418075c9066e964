#include "FileWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What settles a file: closed after writing, or renamed into the directory. A directory's own move needs nothing:
// its watch stays with it.
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR;

// Reads per Poll: whatever remains waits in the kernel's queue for the next frame, so one Poll costs little even
// under a storm of events.
constexpr int kReadsPerPoll = 4;

}  // namespace

FileWatch::FileWatch(int64_t quietNanoseconds, int64_t longestNanoseconds)
    : quiet_(quietNanoseconds), longest_(longestNanoseconds)
{
}

FileWatch::~FileWatch()
{
    if (fd_ >= 0)
        close(fd_);
}

bool FileWatch::Add(const std::string& path, std::string* why)
{
    if (byPath_.count(path) != 0)
        return true;
    if (fd_ < 0) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) {
            *why = std::strerror(errno);
            return false;
        }
    }
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        *why = "names no file";
        return false;
    }
    // The kernel gives one watch per directory, however it is named, so files of one directory share it.
    const int watch = inotify_add_watch(fd_, directory.c_str(), kWatchMask);
    if (watch < 0) {
        *why = std::strerror(errno);
        return false;
    }
    byPath_.emplace(path, files_.size());
    byDirectory_[watch].emplace(name, files_.size());
    files_.push_back(File{path});
    return true;
}

void FileWatch::MarkChanged(size_t file, int64_t now)
{
    if (!files_[file].changed) {
        files_[file].changed = true;
        if (waiting_++ == 0)
            oldestChange_ = now;
    }
    lastChange_ = now;
}

std::vector<std::string> FileWatch::Poll(int64_t now)
{
    if (fd_ < 0)
        return {};
    alignas(inotify_event) char buffer[16384];
    for (int read = 0; read < kReadsPerPoll; ++read) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: any file may have changed.
                for (size_t file = 0; file < files_.size(); ++file)
                    MarkChanged(file, now);
                continue;
            }
            const auto directory = byDirectory_.find(event->wd);
            if (directory == byDirectory_.end())
                continue;
            // The directory is gone (deleted, or its file system unmounted); so are its files.
            if (event->mask & IN_IGNORED) {
                byDirectory_.erase(directory);
                continue;
            }
            if ((event->mask & IN_ISDIR) || event->len == 0)
                continue;
            const auto file = directory->second.find(event->name);
            if (file != directory->second.end())
                MarkChanged(file->second, now);
        }
    }
    if (waiting_ == 0 || (now - lastChange_ < quiet_ && now - oldestChange_ < longest_))
        return {};
    std::vector<std::string> settled;
    for (File& file : files_)
        if (file.changed) {
            settled.push_back(file.path);
            file.changed = false;
        }
    waiting_ = 0;
    return settled;
}
