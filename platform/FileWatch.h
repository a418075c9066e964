// Kernel notifications of files that are written whole. A watched file counts as changed once it is closed after
// writing or renamed into place, the two ways tools and editors finish a file; it is reported once the watched
// files have been quiet for a moment, so that a tool that writes many files is seen once.
//
// The directories of the files are watched rather than the files themselves: a file replaced by a rename, or
// deleted and written again, is a new file that a watch of the old one would miss. A watch follows its directory
// when the directory is renamed, and so does the working directory, so paths relative to it keep naming the files.
// Nothing here blocks, and memory is bounded by the files watched whatever the rate of events: the kernel's own
// queue is bounded, and when it overflows every watched file counts as changed.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class FileWatch {
public:
    // quietNanoseconds: how long no watched file may change before the changed ones are reported. longestNanoseconds:
    // the longest a change waits, so that a writer that never pauses still has its files reported now and then.
    explicit FileWatch(int64_t quietNanoseconds = 250'000'000, int64_t longestNanoseconds = 2'000'000'000);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Watches path (a file that need not exist yet) through its directory. A path already watched succeeds at once.
    // False, with the system's reason in *why, when the directory cannot be watched (it does not exist, or the
    // system's limit of watches is reached) or no notification queue could be opened.
    bool Add(const std::string& path, std::string* why);

    // Takes what the kernel has queued, without waiting, and returns the paths (as added) whose changes have
    // settled by `now` (nanoseconds of the monotonic clock), each once, in the order they were added.
    std::vector<std::string> Poll(int64_t now);

    // The notification queue's descriptor, -1 before the first Add.
    int Descriptor() const { return fd_; }

private:
    void MarkChanged(size_t file, int64_t now);

    struct File {
        std::string path;
        bool changed = false;  // a change waits to be reported
    };
    int fd_ = -1;
    std::vector<File> files_;
    std::unordered_map<std::string, size_t> byPath_;
    std::unordered_map<int, std::unordered_map<std::string, size_t>> byDirectory_;  // watch -> file name -> file
    int64_t quiet_;
    int64_t longest_;
    int64_t lastChange_ = 0;    // the newest unreported change
    int64_t oldestChange_ = 0;  // the oldest unreported change
    size_t waiting_ = 0;        // files changed since the last report
};
