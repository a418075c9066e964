// libFuzzer target: random index lists through both entries of the optimiser. The first two bytes choose the
// cache size and the minimum strip length; every further byte is one index, mostly from a small range so that
// triangles share edges, a few bytes standing for extreme values (65535, 0xFFFFFFFF, ...). The 16-bit and the
// 32-bit entry get the same list under a one-to-one change of values and must give the same order; the output
// must pass validation.
#include "TriangleOrder.h"

#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    OrderOptions options;
    options.cacheSize = data[0] % 32;
    options.minStripLength = data[1] % 6;

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

    OrderScratch scratch;
    // Exactly the room the entries may use, so that a write past it is caught.
    std::vector<uint16_t> ordered(narrow.size() - narrow.size() % 3);
    std::vector<uint32_t> ordered32(ordered.size());
    const OrderResult result = OrderTriangles(ordered.data(), narrow.data(), uint32_t(narrow.size()), options, scratch);
    const OrderResult result32 = OrderTriangles(ordered32.data(), wide.data(), uint32_t(wide.size()), options, scratch);
    Require(result.valid && result32.valid);
    Require(result.indexCount == result32.indexCount);
    Require(result.indexCount <= narrow.size() - narrow.size() % 3);
    for (uint32_t i = 0; i < result.indexCount; ++i)
        Require(widen.at(ordered[i]) == ordered32[i]);
    return 0;
}
