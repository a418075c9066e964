// libFuzzer target: random index lists through both entries of the optimiser. The first two bytes choose the
// cache size and the minimum strip length; every further byte is one index, mostly from a small range so that
// triangles share edges, a few bytes standing for extreme values (65535, 0xFFFFFFFF, ...). The 16-bit and the
// 32-bit entry get the same list under a one-to-one change of values and must give the same order; the output
// must pass validation.
#include "TriangleOrder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr uint16_t extreme16[] = {65535, 65534, 65533, 65532, 65531, 65530};
constexpr uint32_t extreme32[] = {0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, 0x7FFFFFFFu, 65535u, 65536u};

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static FILE* quiet = std::fopen("/dev/null", "w");
    SetOrderConsole(quiet);
    SetCacheSize(data[0] % 32);
    SetMinStripLength(data[1] % 6);

    std::vector<uint16_t> narrow;
    std::vector<uint32_t> wide;
    std::map<uint16_t, uint32_t> widen;
    for (size_t i = 2; i < size; ++i) {
        uint8_t b = data[i];
        uint16_t n = b >= 250 ? extreme16[b - 250] : uint16_t(b % 64);
        uint32_t w = b >= 250 ? extreme32[b - 250] : uint32_t(b % 64);
        narrow.push_back(n);
        wide.push_back(w);
        widen[n] = w;
    }

    PrimitiveBatch* batches = nullptr;
    PrimitiveBatch32* batches32 = nullptr;
    uint16_t count = 0, count32 = 0;
    Require(OrderTriangles(narrow.data(), uint32_t(narrow.size()), &batches, &count, true));
    Require(OrderTriangles32(wide.data(), uint32_t(wide.size()), &batches32, &count32, true));
    Require(count == 1 && count32 == 1);
    Require(batches[0].indexCount == batches32[0].indexCount);
    Require(batches[0].indexCount <= narrow.size() - narrow.size() % 3);
    for (uint32_t i = 0; i < batches[0].indexCount; ++i)
        Require(widen.at(batches[0].indices[i]) == batches32[0].indices[i]);
    delete[] batches;
    delete[] batches32;
    return 0;
}
