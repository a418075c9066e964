// Triangle order optimiser: reorders a triangle list so that consecutive triangles share vertices and a small
// post-transform vertex cache hits often.
//
// Use: set the settings once (SetRenderGeometrySettings, or SetCacheSize, ...), then call OrderTriangles (16-bit
// indices) or OrderTriangles32 (32-bit indices) once per triangle list. The call allocates an array of batches
// with new[]; each batch owns its index array and frees it in its destructor, so the caller releases everything
// with a single `delete[] batches`. The output holds the input triangles minus degenerate ones and exact repeats,
// each with its three indices in input order. The console lines of the optimiser go to the sink set with
// SetOrderConsole (standard output by default).
#pragma once

#include <cstdint>
#include <cstdio>

enum PrimitiveType : uint32_t { PrimitiveList = 0 };

// One output batch; owns `indices` (indexCount entries, allocated with new[]).
template <class Index>
struct BasicPrimitiveBatch {
    PrimitiveType type = PrimitiveList;
    uint32_t indexCount = 0;
    Index* indices = nullptr;

    BasicPrimitiveBatch() = default;
    BasicPrimitiveBatch(const BasicPrimitiveBatch&) = delete;
    BasicPrimitiveBatch& operator=(const BasicPrimitiveBatch&) = delete;
    ~BasicPrimitiveBatch() { delete[] indices; }
};

using PrimitiveBatch = BasicPrimitiveBatch<uint16_t>;
using PrimitiveBatch32 = BasicPrimitiveBatch<uint32_t>;

// Size of the vertex cache to optimise for (initially 16); strips are cut into pieces of cacheSize - 6 faces.
void SetCacheSize(int cacheSize);
// Pieces with fewer faces than this are dissolved into loose faces (initially 0: none).
void SetMinStripLength(unsigned minStripLength);
// Settings of strip output (stitching, list-only, primitive restart). The optimiser only makes lists, which none
// of them affects, so they change nothing.
void SetStitchStrips(bool stitchStrips);
void SetListsOnly(bool listsOnly);
void EnableRestart(uint32_t restartIndex);
void DisableRestart();
// The settings of the render geometry build, made once before its first call: cache size 24, stitched strips,
// list output; the minimum strip length keeps its value.
void SetRenderGeometrySettings();
// Where the optimiser's console lines go (initially stdout); nullptr restores stdout.
void SetOrderConsole(FILE* sink);

// Reorders a 16-bit triangle list. Writes one list batch to *batches and 1 to *batchCount. Only whole triangles
// of indexCount are read. With validate set, the order is checked to hold exactly the distinct input triangles;
// should it not, the batch holds them in input order instead and the result is false. The batch is always one
// that draws the input's triangles.
bool OrderTriangles(const uint16_t* indices, uint32_t indexCount, PrimitiveBatch** batches, uint16_t* batchCount,
                    bool validate);
// The same for 32-bit indices; any value, 0xFFFFFFFF included, is a vertex. The order equals that of the
// 16-bit entry for the same list.
bool OrderTriangles32(const uint32_t* indices, uint32_t indexCount, PrimitiveBatch32** batches, uint16_t* batchCount,
                      bool validate);

// The optimiser keeps the large blocks of its working memory between calls, so that ordering many lists faults
// their pages in once; this returns them to the system. Call it after the last list of a build.
void ReleaseOrderMemory();

// Average cache miss ratio of a triangle list (misses per whole triangle) through a FIFO vertex cache of
// cacheSize entries; 0 for a list without triangles.
float FifoCacheMissRatio(const uint16_t* indices, uint32_t indexCount, unsigned cacheSize);
float FifoCacheMissRatio(const uint32_t* indices, uint32_t indexCount, unsigned cacheSize);
