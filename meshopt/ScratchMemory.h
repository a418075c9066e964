// The optimiser's large working arrays come from here. A block that a call frees is kept and handed to a later
// call that needs as much, so a build that orders many lists faults its pages in once rather than once per list;
// ReleaseOrderMemory (TriangleOrder.h) returns the kept blocks to the system.
#pragma once

#include <cstddef>
#include <vector>

void* ScratchAllocate(size_t bytes);
void ScratchFree(void* block, size_t bytes);

template <class T>
struct ScratchAllocator {
    using value_type = T;

    ScratchAllocator() = default;
    template <class U>
    ScratchAllocator(const ScratchAllocator<U>&)
    {
    }

    T* allocate(size_t n) { return static_cast<T*>(ScratchAllocate(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { ScratchFree(p, n * sizeof(T)); }

    template <class U>
    bool operator==(const ScratchAllocator<U>&) const
    {
        return true;
    }
    template <class U>
    bool operator!=(const ScratchAllocator<U>&) const
    {
        return false;
    }
};

template <class T>
using ScratchVector = std::vector<T, ScratchAllocator<T>>;
