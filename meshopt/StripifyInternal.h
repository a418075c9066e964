// Working structures shared by the optimiser's stages: adjacency, strip search, cutting and ordering.
// Vertices here are dense ids (0 .. vertexCount - 1); -1 means "none" everywhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Writes one console line (text includes its newline) to the optimiser's sink and flushes it.
void OrderConsoleLine(const char* text);
// Effective cache size: cacheSize - 6, at least 1.
int EffectiveCacheSize(int cacheSize);

// Three vertex ids in input order; a fake face (p, q, p) only flips a strip's parity and is never output.
struct StripFace {
    int32_t v[3];
};

bool IsDegenerate(const StripFace& f);
// Whether vertex x is one of the face's three (any record with a `v[3]` of vertex ids).
template <class Face>
bool FaceHas(const Face& f, int32_t x)
{
    return f.v[0] == x || f.v[1] == x || f.v[2] == x;
}

struct StripEdge {
    int32_t v0, v1;
    int32_t face0 = -1, face1 = -1;
    // Next edge in the chain of v0 and in the chain of v1.
    int32_t next0 = -1, next1 = -1;
};

// Open-addressing table of indices into a caller-owned array; the caller hashes and compares the keys.
class IndexHashTable {
public:
    void Reset(size_t expectedCount);
    // First stored index whose key `matches` (a callable taking the index), or -1.
    template <class Matches>
    int32_t Find(uint64_t hash, Matches&& matches) const
    {
        for (size_t slot = hash & mask_;; slot = (slot + 1) & mask_) {
            int32_t index = slots_[slot];
            if (index < 0 || matches(index))
                return index;
        }
    }
    // Stores an index whose key is not present yet.
    void Insert(uint64_t hash, int32_t index);

private:
    std::vector<int32_t> slots_;
    size_t mask_ = 0;
};

uint64_t HashTriple(uint32_t a, uint32_t b, uint32_t c);

struct StripifyInfo {
    std::vector<StripFace> faces;
    std::vector<StripEdge> edges;
    // Per face, for its edges (v0,v1), (v1,v2), (v2,v0): the edge, and the face across it (-1 if none). The
    // search asks for faces across the edges of the face it stands on, so these save the edge lookups.
    std::vector<int32_t> faceEdges;
    std::vector<int32_t> neighbours;
    // Head of each vertex's edge chain.
    std::vector<int32_t> chainHead;
    // Each vertex's chain reduced to the edges with two faces, in chain order (vertex v's run starts at
    // sharedStart[v]); only those can lead the search from one strip to the next.
    std::vector<uint32_t> sharedStart;
    std::vector<int32_t> sharedEdges;
    IndexHashTable edgeIndex;
};

// Builds faces and edges from a triangle list of dense vertex ids below vertexCount (whole triangles only).
void BuildStripifyInfo(const int32_t* tris, size_t triangleCount, int32_t vertexCount, StripifyInfo& info);
// The edge (a, b) in either direction, or -1.
int32_t FindEdge(const StripifyInfo& info, int32_t a, int32_t b);
// The face across edge (a, b) from face `from` (a face reference; fake faces have no edges of their own), or -1.
int32_t OtherFace(const StripifyInfo& info, int32_t a, int32_t b, int32_t from);

// FIFO model of a post-transform vertex cache.
class VertexCacheModel {
public:
    explicit VertexCacheModel(int size) : entries_(size > 0 ? size : 1, -1) {}
    bool Has(int32_t v) const;
    // Stores v at the front unless present (then returns false and changes nothing); *dropped receives the entry
    // pushed out of the back (-1 if that slot was empty).
    bool Add(int32_t v, int32_t* dropped = nullptr);
    void AddFace(const StripFace& f);
    int FaceHits(const StripFace& f) const;

private:
    std::vector<int32_t> entries_;
};

// A strip as the search commits it: a range of face references. A reference >= 0 is a face of the adjacency,
// -1 - k is fake face k.
struct StripRange {
    uint32_t begin, end;
};

struct StripSet {
    std::vector<StripRange> strips;
    std::vector<int32_t> refs;
    std::vector<StripFace> fakes;

    const StripFace& Face(const StripifyInfo& info, int32_t ref) const
    {
        return ref >= 0 ? info.faces[ref] : fakes[-1 - ref];
    }
};

// Runs the trial stripification over all faces and returns the committed strips in commit order.
void FindAllStrips(const StripifyInfo& info, StripSet& out);

// Checks an ordered list against its input: it must hold every distinct non-degenerate input triangle (exact
// repeats count once) exactly once, each in its input index order or a rotation of it, and nothing else. When it
// does not, the list is replaced by those triangles in input order, which is always a correct list, and the
// result is false.
bool KeepOrFallBack(const uint16_t* input, size_t triangleCount, std::vector<uint16_t>& ordered);
bool KeepOrFallBack(const uint32_t* input, size_t triangleCount, std::vector<uint32_t>& ordered);

// Cuts the strips into pieces, dissolves short pieces and orders pieces and loose faces for the cache.
// `ordered` receives the pieces in output order (refs into `strips`), `looseFaces` the loose face refs.
void CutAndOrderStrips(const StripifyInfo& info, const StripSet& strips, int cacheSize, unsigned minStripLength,
                       std::vector<int32_t>& orderedRefs, std::vector<int32_t>& looseRefs);
