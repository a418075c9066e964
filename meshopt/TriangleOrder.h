// Triangle order optimiser: reorders a triangle list so that consecutive triangles share vertices and a small
// post-transform vertex cache hits often.
//
// Use: OrderTriangles(destination, indices, indexCount, options, scratch) once per triangle list. The order goes
// into the caller's destination; the output holds the input triangles minus degenerate ones and exact repeats,
// each with its three indices in input order. A call reads and writes only what it is given: its arguments, its
// result and the scratch. Calls on different threads are therefore safe at once, each with its own scratch and
// destination (options and input may be shared).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct OrderOptions {
    // Size of the vertex cache to optimise for; strips are cut into pieces of cacheSize - 6 faces (at least 1).
    int cacheSize = 16;
    // Pieces with fewer faces than this are dissolved into loose faces (0: none).
    unsigned minStripLength = 0;
    // Check that the order holds exactly the distinct input triangles; should it not, the destination receives
    // them in input order instead and the result says so.
    bool validate = true;
};

// The optimiser's working memory, owned by the caller and used by one call at a time. Large blocks that a call
// frees are kept here and handed to later calls on the same scratch, so that ordering many lists faults their
// pages in once; they go back to the system on Release or when the scratch is destroyed.
class OrderScratch {
public:
    OrderScratch() = default;
    OrderScratch(const OrderScratch&) = delete;
    OrderScratch& operator=(const OrderScratch&) = delete;
    ~OrderScratch() { Release(); }

    // Blocks are aligned to 64 bytes, a cache line.
    void* Allocate(std::size_t bytes);
    void Free(void* block, std::size_t bytes);
    void Release();

private:
    static constexpr int classCount = 48;
    std::vector<void*> kept_[classCount];  // free blocks of 2^k bytes
};

// The console lines of a call, in order, kept as runs of one fixed text, so that a list full of faulty triangles
// costs a few bytes per run rather than per line.
struct OrderConsole {
    struct Run {
        const char* text;  // one or more whole lines, each ending with a newline
        uint32_t count;
    };
    std::vector<Run> runs;

    void Add(const char* text);
    // Writes every line in order, flushing after each text as the optimiser always has.
    void Print(FILE* sink) const;
};

struct OrderResult {
    uint32_t indexCount = 0;   // entries written to the destination, three per triangle
    bool valid = true;         // false when validation replaced the order by the input order
    bool outOfMemory = false;  // the working memory could not be had: nothing usable was written
    OrderConsole console;      // for the caller to print
};

// Reorders the whole triangles among indexCount indices into destination, which must have room for indexCount
// rounded down to a multiple of 3 entries and must not overlap the input. The 32-bit overload treats any value,
// 0xFFFFFFFF included, as a vertex, and gives the order of the 16-bit one for the same list. Throws nothing: when
// the system refuses memory the result says so.
OrderResult OrderTriangles(uint16_t* destination, const uint16_t* indices, uint32_t indexCount,
                           const OrderOptions& options, OrderScratch& scratch);
OrderResult OrderTriangles(uint32_t* destination, const uint32_t* indices, uint32_t indexCount,
                           const OrderOptions& options, OrderScratch& scratch);

// Average cache miss ratio of a triangle list (misses per whole triangle) through a FIFO vertex cache of
// cacheSize entries; 0 for a list without triangles.
float FifoCacheMissRatio(const uint16_t* indices, uint32_t indexCount, unsigned cacheSize);
float FifoCacheMissRatio(const uint32_t* indices, uint32_t indexCount, unsigned cacheSize);
