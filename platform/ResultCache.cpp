#include "ResultCache.h"

#include "RegularFile.h"
#include "WholeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kMagic[8] = {'V', 'M', 'R', 'C', 'A', 'C', 'H', '1'};
// Largest key an entry may carry: the shader texts and driver strings with room to spare.
constexpr std::size_t kMaxKeyBytes = std::size_t(16) << 20;

void PutSize(std::string& out, std::uint64_t size) { out.append(reinterpret_cast<const char*>(&size), sizeof size); }

bool GetSize(const std::string& in, std::size_t& at, std::uint64_t& size)
{
    if (in.size() - at < sizeof size)
        return false;
    std::memcpy(&size, in.data() + at, sizeof size);
    at += sizeof size;
    return true;
}

std::string Hex(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The entry's file: the section, then two independent digests of the key, so that unrelated keys rarely share a
// name (and when they do, the stored key tells them apart).
std::string EntryPath(const std::string& directory, const std::string& section, const std::string& key)
{
    return directory + "/" + section + "-" + Hex(ResultDigest(key.data(), key.size())) +
           Hex(ResultDigest(key.data(), key.size(), 0x9e3779b97f4a7c15ull)) + ".bin";
}

// Reads a regular file of at most limit bytes whole.
bool ReadBounded(const std::string& path, std::size_t limit, std::string& bytes)
{
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path.c_str(), &size);
    if (fd < 0)
        return false;
    bool ok = size <= limit;
    if (ok) {
        bytes.assign(static_cast<std::size_t>(size), '\0');
        std::size_t got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t n = read(fd, &bytes[got], bytes.size() - got);
            ok = n > 0;
            if (ok)
                got += static_cast<std::size_t>(n);
        }
        // A file that grew since fstat is not the file that was sized.
        char extra = 0;
        ok = ok && read(fd, &extra, 1) == 0;
    }
    close(fd);
    return ok;
}

}  // namespace

std::uint64_t ResultDigest(const void* data, std::size_t size, std::uint64_t digest)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        digest ^= bytes[i];
        digest *= 1099511628211ull;
    }
    return digest;
}

std::string ResultCacheDirectory()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/velmora-viewer";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.cache/velmora-viewer";
    return std::string();
}

bool LoadCachedResult(const std::string& directory, const std::string& section, const std::string& key,
                      std::size_t maxValueBytes, std::string& value)
{
    if (directory.empty() || key.size() > kMaxKeyBytes)
        return false;
    const std::size_t limit = sizeof kMagic + 3 * sizeof(std::uint64_t) + key.size() + maxValueBytes;
    std::string entry;
    if (!ReadBounded(EntryPath(directory, section, key), limit, entry) || entry.size() < sizeof kMagic ||
        std::memcmp(entry.data(), kMagic, sizeof kMagic) != 0)
        return false;
    std::size_t at = sizeof kMagic;
    std::uint64_t keySize = 0;
    std::uint64_t valueSize = 0;
    std::uint64_t checksum = 0;
    if (!GetSize(entry, at, keySize) || keySize != key.size() || entry.compare(at, key.size(), key) != 0)
        return false;
    at += key.size();
    if (!GetSize(entry, at, valueSize) || valueSize > maxValueBytes || entry.size() - at < valueSize)
        return false;
    const std::size_t valueAt = at;
    at += static_cast<std::size_t>(valueSize);
    if (!GetSize(entry, at, checksum) || at != entry.size() ||
        checksum != ResultDigest(entry.data(), valueAt + static_cast<std::size_t>(valueSize)))
        return false;
    value = entry.substr(valueAt, static_cast<std::size_t>(valueSize));
    return true;
}

void StoreCachedResult(const std::string& directory, const std::string& section, const std::string& key,
                       const std::string& value)
{
    if (directory.empty() || key.size() > kMaxKeyBytes)
        return;
    // The parent (~/.cache) may be missing too; only the last two levels are made here.
    const std::size_t slash = directory.rfind('/');
    if (slash != std::string::npos && slash > 0)
        mkdir(directory.substr(0, slash).c_str(), 0700);
    mkdir(directory.c_str(), 0700);
    std::string entry(kMagic, sizeof kMagic);
    PutSize(entry, key.size());
    entry += key;
    PutSize(entry, value.size());
    entry += value;
    PutSize(entry, ResultDigest(entry.data(), entry.size()));
    WriteWholeFile(EntryPath(directory, section, key), entry.data(), entry.size(), true);
}

std::string ProgramIdentity()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    struct stat program;
    if (length <= 0 || stat("/proc/self/exe", &program) != 0)
        return std::string();
    return std::string(path, static_cast<std::size_t>(length)) + "|" + std::to_string(program.st_size) + "|" +
           std::to_string(program.st_mtim.tv_sec) + "." + std::to_string(program.st_mtim.tv_nsec) + "|" +
           std::to_string(program.st_ino);
}
