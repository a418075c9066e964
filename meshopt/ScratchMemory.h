// Containers of the optimiser's working arrays. Each is made with the OrderScratch (TriangleOrder.h) of its call,
// and takes and returns its blocks there, so that a block one array frees is handed to the next that needs as
// much, and calls with different scratches share nothing.
#pragma once

#include "TriangleOrder.h"

#include <cstddef>
#include <utility>
#include <vector>

template <class T>
struct ScratchAllocator {
    using value_type = T;

    // Implicit, so that a container is made with the scratch itself: ScratchVector<int32_t> ids(scratch).
    ScratchAllocator(OrderScratch& owner) : scratch(&owner) {}
    template <class U>
    ScratchAllocator(const ScratchAllocator<U>& other) : scratch(other.scratch)
    {
    }

    T* allocate(size_t n) { return static_cast<T*>(scratch->Allocate(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { scratch->Free(p, n * sizeof(T)); }

    template <class U>
    bool operator==(const ScratchAllocator<U>& other) const
    {
        return scratch == other.scratch;
    }
    template <class U>
    bool operator!=(const ScratchAllocator<U>& other) const
    {
        return scratch != other.scratch;
    }

    OrderScratch* scratch;
};

template <class T>
using ScratchVector = std::vector<T, ScratchAllocator<T>>;

// An array of uninitialised elements of a trivial type, owned like a unique pointer.
template <class T>
class ScratchArray {
public:
    explicit ScratchArray(OrderScratch& scratch) : scratch_(&scratch) {}
    ScratchArray(size_t n, OrderScratch& scratch)
        : scratch_(&scratch), data_(static_cast<T*>(scratch.Allocate(n * sizeof(T)))), size_(n)
    {
    }
    ScratchArray(ScratchArray&& other) noexcept : scratch_(other.scratch_), data_(other.data_), size_(other.size_)
    {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ScratchArray& operator=(ScratchArray&& other) noexcept
    {
        std::swap(scratch_, other.scratch_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~ScratchArray() { scratch_->Free(data_, size_ * sizeof(T)); }

    T* get() const { return data_; }
    OrderScratch& Scratch() const { return *scratch_; }
    T& operator[](size_t i) const { return data_[i]; }

private:
    OrderScratch* scratch_;
    T* data_ = nullptr;
    size_t size_ = 0;
};
