#include "AvailableMemory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A number file of a control group: a byte count, or "max" (no limit); kUnlimitedMemory when absent or unreadable.
uint64_t CgroupNumber(const std::string& path)
{
    const std::string text = ReadSmallFile(path);
    if (text.empty() || text.compare(0, 3, "max") == 0)
        return kUnlimitedMemory;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    return end == text.c_str() ? kUnlimitedMemory : uint64_t(value);
}

// The value of a "key N" line of a memory.stat file, 0 without one.
uint64_t StatField(const std::string& text, const std::string& key)
{
    std::istringstream lines(text);
    std::string name;
    uint64_t value = 0;
    while (lines >> name >> value)
        if (name == key)
            return value;
    return 0;
}

// What a group's limit leaves: its usage counts the page cache, of which the inactive files can be reclaimed.
uint64_t CgroupHeadroom(const std::string& directory, bool version2)
{
    const uint64_t limit = CgroupNumber(directory + (version2 ? "/memory.max" : "/memory.limit_in_bytes"));
    // Version 1 writes "no limit" as the largest page-aligned number.
    if (limit == kUnlimitedMemory || limit >= (uint64_t(1) << 62))
        return kUnlimitedMemory;
    const uint64_t usage = CgroupNumber(directory + (version2 ? "/memory.current" : "/memory.usage_in_bytes"));
    if (usage == kUnlimitedMemory)
        return kUnlimitedMemory;
    const std::string stat = ReadSmallFile(directory + "/memory.stat");
    const uint64_t reclaimable = version2 ? StatField(stat, "inactive_file") : StatField(stat, "total_inactive_file");
    const uint64_t used = usage - std::min(usage, reclaimable);
    return limit - std::min(limit, used);
}

}  // namespace

uint64_t KilobyteField(const std::string& text, const std::string& key)
{
    const std::string prefix = key + ":";
    for (std::size_t line = 0; line < text.size();) {
        const std::size_t end = std::min(text.find('\n', line), text.size());
        if (text.compare(line, prefix.size(), prefix) == 0) {
            char* stop = nullptr;
            const char* digits = text.c_str() + line + prefix.size();
            const unsigned long long value = std::strtoull(digits, &stop, 10);
            if (stop != digits && value <= kUnlimitedMemory / 1024)
                return uint64_t(value) * 1024;
            return kUnlimitedMemory;
        }
        line = end + 1;
    }
    return kUnlimitedMemory;
}

CgroupDirectories MemoryCgroupDirectories(const std::string& procCgroup, const std::string& mountRoot)
{
    // Version 1 lines are "N:controllers:/path" with "memory" among the controllers; the version 2 line is
    // "0::/path". A version 1 memory line wins: on a mixed system the limits are set there.
    CgroupDirectories found;
    std::string path;
    bool haveV1 = false;
    std::istringstream lines(procCgroup);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::istringstream names(controllers);
        bool memory = false;
        for (std::string name; std::getline(names, name, ',');)
            memory = memory || name == "memory";
        if (memory) {
            path = line.substr(second + 1);
            haveV1 = true;
        } else if (controllers.empty() && !haveV1) {
            path = line.substr(second + 1);
            found.version2 = true;
        }
    }
    if (path.empty() || path[0] != '/')
        return found;
    found.version2 = !haveV1;
    const std::string base = found.version2 ? mountRoot : mountRoot + "/memory";
    for (;;) {
        found.directories.push_back(base + (path == "/" ? "" : path));
        if (path == "/")
            break;
        path.erase(std::max<std::size_t>(path.rfind('/'), 1));
    }
    return found;
}

uint64_t AvailableMemoryBytes()
{
    uint64_t available = KilobyteField(ReadSmallFile("/proc/meminfo"), "MemAvailable");

    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const uint64_t inUse = KilobyteField(ReadSmallFile("/proc/self/status"), "VmSize");
        const uint64_t cap = uint64_t(limit.rlim_cur);
        available = std::min(available, inUse == kUnlimitedMemory ? cap : cap - std::min(cap, inUse));
    }

    // In a container the group's own path may not exist under the mount (a namespace shows its group as the root);
    // the groups that do exist still bound it.
    const CgroupDirectories groups = MemoryCgroupDirectories(ReadSmallFile("/proc/self/cgroup"), "/sys/fs/cgroup");
    for (const std::string& directory : groups.directories)
        available = std::min(available, CgroupHeadroom(directory, groups.version2));
    return available;
}
