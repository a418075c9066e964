#include "WholeFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

// Opens a new file beside path, named after it with a leading dot and a suffix that no other writer uses, with the
// permissions that a plain create would give. -1 with errno set when none could be created.
int CreateBeside(const std::string& path, std::string& temporary)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        temporary = path.substr(0, nameAt) + "." + path.substr(nameAt) + "." + std::to_string(getpid()) + "-" +
                    std::to_string(now) + "-" + std::to_string(attempt);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

int WriteAll(int fd, const char* at, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, at, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        at += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Gives temporary the name path unless a file has it. Where the file system cannot rename without replacing, a hard
// link does the same.
int RenameWithoutReplacing(const std::string& temporary, const std::string& path)
{
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (link(temporary.c_str(), path.c_str()) != 0)
        return errno;
    unlink(temporary.c_str());
    return 0;
}

}  // namespace

int WriteWholeFile(const std::string& path, const void* data, std::size_t size, bool replace)
{
    std::string temporary;
    const int fd = CreateBeside(path, temporary);
    if (fd < 0)
        return errno;
    int error = WriteAll(fd, static_cast<const char*>(data), size);
    // On disk before it has the name: after a crash the name holds the old file or the new one, never a part.
    if (error == 0 && fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = replace ? (rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno)
                        : RenameWithoutReplacing(temporary, path);
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}

void ReportFileNotWritten(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "%s: could not write %s: %s\n", program_invocation_short_name, path.c_str(), reason.c_str());
    std::fflush(stderr);
}
