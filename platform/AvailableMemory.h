// How much more memory this process can expect to get: the least of what the system has available, what the
// address-space limit leaves and what the memory limits of its control groups leave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint64_t kUnlimitedMemory = UINT64_MAX;

// The bytes of the first "key:  N kB" line of a /proc file with that key (MemAvailable, VmSize), or
// kUnlimitedMemory when it has none.
uint64_t KilobyteField(const std::string& text, const std::string& key);

// The cgroup directories of the memory controller named by a /proc/self/cgroup text, from the own group up to the
// root, under the mount point of the version that names them ("/sys/fs/cgroup" for version 2, its "memory"
// folder for version 1).
struct CgroupDirectories {
    bool version2 = false;
    std::vector<std::string> directories;
};
CgroupDirectories MemoryCgroupDirectories(const std::string& procCgroup, const std::string& mountRoot);

// The least of MemAvailable, RLIMIT_AS less the address space in use, and every enclosing control group's limit
// less its usage that cannot be reclaimed; kUnlimitedMemory when nothing can be read.
uint64_t AvailableMemoryBytes();
