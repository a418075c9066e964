// OrderScratch (TriangleOrder.h): the optimiser's working memory, kept between the calls that share it.
#include "TriangleOrder.h"

#include <sys/mman.h>

#include <new>

namespace {

// Smaller blocks come from the heap. Larger ones are mapped in sizes that are powers of two, and kept on one free
// list per size when freed.
constexpr int smallestClass = 16;  // 64 KiB

// Under AddressSanitizer every block comes from the heap at its exact size, so that a read past an array's end is
// still caught rather than landing in the rest of a larger mapped block.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool keepBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool keepBlocks = false;
#else
constexpr bool keepBlocks = true;
#endif
#else
constexpr bool keepBlocks = true;
#endif

int SizeClass(size_t bytes)
{
    int k = smallestClass;
    while ((size_t(1) << k) < bytes)
        ++k;
    return k;
}

}  // namespace

void* OrderScratch::Allocate(size_t bytes)
{
    if (!keepBlocks || bytes < (size_t(1) << smallestClass))
        return ::operator new(bytes ? bytes : 1, std::align_val_t(64));
    int k = SizeClass(bytes);
    if (!kept_[k].empty()) {
        void* block = kept_[k].back();
        kept_[k].pop_back();
        return block;
    }
    void* block = mmap(nullptr, size_t(1) << k, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    return block;
}

void OrderScratch::Free(void* block, size_t bytes)
{
    if (!block)
        return;
    if (!keepBlocks || bytes < (size_t(1) << smallestClass)) {
        ::operator delete(block, std::align_val_t(64));
        return;
    }
    kept_[SizeClass(bytes)].push_back(block);
}

void OrderScratch::Release()
{
    for (int k = 0; k < classCount; ++k) {
        for (void* block : kept_[k])
            munmap(block, size_t(1) << k);
        kept_[k].clear();
    }
}
