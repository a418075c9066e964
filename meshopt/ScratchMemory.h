// The optimiser's large working arrays come from here. A block that a call frees is kept and handed to a later
// call that needs as much, so a build that orders many lists faults its pages in once rather than once per list;
// ReleaseOrderMemory (TriangleOrder.h) returns the kept blocks to the system.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// Blocks are aligned to 64 bytes, a cache line.
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

// An array of uninitialised elements of a trivial type, owned like a unique pointer.
template <class T>
class ScratchArray {
public:
    ScratchArray() = default;
    explicit ScratchArray(size_t n) : data_(static_cast<T*>(ScratchAllocate(n * sizeof(T)))), size_(n) {}
    ScratchArray(ScratchArray&& other) noexcept : data_(other.data_), size_(other.size_)
    {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ScratchArray& operator=(ScratchArray&& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~ScratchArray() { ScratchFree(data_, size_ * sizeof(T)); }

    T* get() const { return data_; }
    T& operator[](size_t i) const { return data_[i]; }

private:
    T* data_ = nullptr;
    size_t size_ = 0;
};
