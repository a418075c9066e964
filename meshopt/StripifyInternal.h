// Working structures shared by the optimiser's stages: adjacency, strip search, cutting and ordering.
// Vertices here are dense ids (0 .. vertexCount - 1); -1 means "none" everywhere.
#pragma once

#include <cstdint>
#include <vector>

#include "ScratchMemory.h"

// Effective cache size: cacheSize - 6, at least 1.
int EffectiveCacheSize(int cacheSize);

// Three vertex ids in input order; a fake face (p, q, p) only flips a strip's parity and is never output.
struct StripFace {
    int32_t v[3];
};

// Whether a triangle of three vertex ids repeats one of them.
inline bool IsDegenerate(const int32_t* v) { return v[0] == v[1] || v[1] == v[2] || v[2] == v[0]; }
inline bool IsDegenerate(const StripFace& f) { return IsDegenerate(f.v); }
// Whether vertex x is one of the face's three (any record with a `v[3]` of vertex ids).
template <class Face>
bool FaceHas(const Face& f, int32_t x)
{
    return f.v[0] == x || f.v[1] == x || f.v[2] == x;
}

struct StripEdge {
    StripEdge(int32_t a, int32_t b, int32_t first) : v0(a), v1(b), face0(first), face1(-1) {}
    int32_t v0, v1;
    int32_t face0, face1;
};

// Open-addressing table of indices into a caller-owned array; the caller hashes and compares the keys.
class IndexHashTable {
public:
    void Reset(size_t expectedCount);
    // First stored index whose key `matches` (a callable taking the index), or -1.
    template <class Matches>
    int32_t Find(uint64_t hash, Matches&& matches) const
    {
        return const_cast<IndexHashTable*>(this)->SlotFor(hash, matches);
    }
    // The slot of the first stored index whose key `matches`, or else the empty slot (-1) where an index with
    // that key belongs: a look-up that may go on to insert probes only once.
    template <class Matches>
    int32_t& SlotFor(uint64_t hash, Matches&& matches)
    {
        for (size_t slot = hash & mask_;; slot = (slot + 1) & mask_) {
            int32_t& index = slots_[slot];
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

// Multiplicative hashes; the tables use their low bits, into which the shift folds the product's upper bits.
inline uint64_t HashTriple(uint32_t a, uint32_t b, uint32_t c)
{
    uint64_t h =
        uint64_t(a) * 0x9e3779b97f4a7c15ULL ^ uint64_t(b) * 0xc2b2ae3d27d4eb4fULL ^ uint64_t(c) * 0x165667b19e3779f9ULL;
    return h ^ h >> 29;
}

// One entry of a vertex's edge list: the edge and its other end.
struct VertexEdge {
    VertexEdge() {}  // lists are filled before they are read: no need to clear them first
    VertexEdge(int32_t o, int32_t e) : other(o), edge(e) {}
    int32_t other, edge;
};

struct StripifyInfo {
    StripifyInfo(OrderScratch& callScratch, OrderConsole& callConsole)
        : scratch(callScratch),
          console(callConsole),
          faces(scratch),
          sources(scratch),
          edges(scratch),
          faceEdges(scratch),
          neighbours(scratch),
          edgeRuns(scratch),
          edgeLists(scratch),
          sharedStart(scratch),
          sharedEdges(scratch)
    {
    }

    // The call's working memory, and its console lines, to which every stage appends.
    OrderScratch& scratch;
    OrderConsole& console;
    int32_t vertexCount = 0;
    ScratchVector<StripFace> faces;
    ScratchVector<uint32_t> sources;  // the input triangle each face was made from
    ScratchVector<StripEdge> edges;
    // Per face, for its edges (v0,v1), (v1,v2), (v2,v0): the edge, and the face across it (-1 if none). The
    // search asks for faces across the edges of the face it stands on, so these save the edge lookups.
    ScratchVector<int32_t> faceEdges;
    ScratchVector<int32_t> neighbours;
    // Each edge is listed at its smaller vertex: vertex v's run is edgeLists[edgeRuns[v].begin .. edgeRuns[v].end),
    // with room for every edge its faces could list there, so runs never move while they grow.
    struct Run {
        uint32_t begin, end;
    };
    ScratchVector<Run> edgeRuns;
    ScratchVector<VertexEdge> edgeLists;
    // Each vertex's chain reduced to the edges with two faces, in chain order (vertex v's run starts at
    // sharedStart[v]); only those can lead the search from one strip to the next.
    ScratchVector<uint32_t> sharedStart;
    ScratchVector<int32_t> sharedEdges;
};

// Builds faces and edges from a triangle list of dense vertex ids below vertexCount (whole triangles only).
void BuildStripifyInfo(const int32_t* tris, size_t triangleCount, int32_t vertexCount, StripifyInfo& info);
// The edge (a, b) in either direction, or -1: a walk along the smaller vertex's run.
inline int32_t FindEdge(const StripifyInfo& info, int32_t a, int32_t b)
{
    int32_t low = a < b ? a : b, high = a < b ? b : a;
    const StripifyInfo::Run& run = info.edgeRuns[size_t(low)];
    for (uint32_t i = run.begin; i < run.end; ++i)
        if (info.edgeLists[i].other == high)
            return info.edgeLists[i].edge;
    return -1;
}
// The face across edge (a, b) from face `from` (a face reference; fake faces have no edges of their own), or -1.
int32_t OtherFace(const StripifyInfo& info, int32_t a, int32_t b, int32_t from);

// FIFO model of a post-transform vertex cache of `size` entries over vertex ids below vertexCount. A vertex that
// is present does not move, so the cache holds exactly the vertices of the last `size` insertions: each vertex
// remembers when it was inserted, and a ring of the last insertions names the vertex that each new one pushes
// out. Every operation takes constant time.
class VertexCacheModel {
public:
    VertexCacheModel(int size, size_t vertexCount, OrderScratch& scratch)
        : ring_(size > 0 ? size : 1, -1), insertedAt_(vertexCount, -1, scratch)
    {
    }
    bool Has(int32_t v) const
    {
        int64_t at = insertedAt_[size_t(v)];
        return at >= 0 && insertions_ - at <= int64_t(ring_.size());
    }
    // Stores v unless present (then returns false and changes nothing); *dropped receives the vertex pushed out
    // (-1 while the cache was not full).
    bool Add(int32_t v, int32_t* dropped = nullptr)
    {
        if (Has(v))
            return false;
        int32_t& slot = ring_[size_t(insertions_ % int64_t(ring_.size()))];
        if (dropped)
            *dropped = slot;
        slot = v;
        insertedAt_[size_t(v)] = insertions_++;
        return true;
    }
    void AddFace(const StripFace& f);
    int FaceHits(const StripFace& f) const;

private:
    std::vector<int32_t> ring_;
    ScratchVector<int64_t> insertedAt_;
    int64_t insertions_ = 0;
};

// A strip as the search commits it: a range of face references. A reference >= 0 is a face of the adjacency,
// -1 - k is fake face k.
// The degenerate faces among the references are exactly the fake ones: the adjacency build drops degenerate
// input triangles, and a fake face is (p, q, p).
inline bool IsFake(int32_t ref) { return ref < 0; }
struct StripRange {
    uint32_t begin, end;
};

struct StripSet {
    explicit StripSet(OrderScratch& scratch) : strips(scratch), refs(scratch), fakes(scratch) {}

    ScratchVector<StripRange> strips;
    ScratchVector<int32_t> refs;
    ScratchVector<StripFace> fakes;

    const StripFace& Face(const StripifyInfo& info, int32_t ref) const
    {
        return ref >= 0 ? info.faces[ref] : fakes[-1 - ref];
    }
};

// Runs the trial stripification over all faces and returns the committed strips in commit order.
void FindAllStrips(const StripifyInfo& info, StripSet& out);

// Checks an ordered list of dense vertex ids against its input: it must hold every distinct non-degenerate input
// triangle (exact repeats count once) exactly once, each in its input index order or a rotation of it, and nothing
// else. When it does not, the list is replaced by those triangles in input order, which is always a correct list,
// and the result is false. The overloads for index values number the values first.
bool KeepOrFallBack(const int32_t* input, size_t triangleCount, int32_t vertexCount, std::vector<int32_t>& ordered,
                    OrderScratch& scratch);
bool KeepOrFallBack(const uint16_t* input, size_t triangleCount, std::vector<uint16_t>& ordered, OrderScratch& scratch);
bool KeepOrFallBack(const uint32_t* input, size_t triangleCount, std::vector<uint32_t>& ordered, OrderScratch& scratch);

// Cuts the strips into pieces, dissolves short pieces and orders pieces and loose faces for the cache.
// `ordered` receives the pieces in output order (refs into `strips`), `looseFaces` the loose face refs.
void CutAndOrderStrips(const StripifyInfo& info, const StripSet& strips, int cacheSize, unsigned minStripLength,
                       ScratchVector<int32_t>& orderedRefs, ScratchVector<int32_t>& looseRefs);
