#include "AvailableMemory.h"

#include <gtest/gtest.h>

TEST(AvailableMemory, KilobyteFieldsAreReadAsBytes)
{
    const std::string meminfo = "MemTotal:       24683772 kB\nMemFree: 1 kB\nMemAvailable:   24130240 kB\n";
    const struct {
        const char* text;
        const char* key;
        uint64_t bytes;
    } cases[] = {
        {meminfo.c_str(), "MemAvailable", 24130240ull * 1024},
        {meminfo.c_str(), "MemFree", 1024},
        {meminfo.c_str(), "Mem", kUnlimitedMemory},  // a key is matched whole
        {"VmPeak:\t 100 kB\nVmSize:\t  737768 kB\n", "VmSize", 737768ull * 1024},
        {"VmSize:\tjunk\n", "VmSize", kUnlimitedMemory},
        {"VmSize: 99999999999999999999 kB\n", "VmSize", kUnlimitedMemory},
        {"", "MemAvailable", kUnlimitedMemory},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(KilobyteField(testCase.text, testCase.key), testCase.bytes) << testCase.text;
}

TEST(AvailableMemory, TheMemoryGroupIsFoundWithItsParentsInEitherVersion)
{
    const struct {
        const char* procCgroup;
        bool version2;
        std::vector<std::string> directories;
    } cases[] = {
        {"0::/user.slice/app\n", true, {"/c/user.slice/app", "/c/user.slice", "/c"}},
        {"0::/\n", true, {"/c"}},
        {"9:name=systemd:/\n4:memory:/job/7\n0::/\n", false, {"/c/memory/job/7", "/c/memory/job", "/c/memory"}},
        {"4:cpu,memory:/a\n", false, {"/c/memory/a", "/c/memory"}},
        {"4:cpu:/a\n", false, {}},
        {"garbage", false, {}},
    };
    for (const auto& testCase : cases) {
        const CgroupDirectories found = MemoryCgroupDirectories(testCase.procCgroup, "/c");
        EXPECT_EQ(found.directories, testCase.directories) << testCase.procCgroup;
        if (!testCase.directories.empty()) {
            EXPECT_EQ(found.version2, testCase.version2) << testCase.procCgroup;
        }
    }
}
