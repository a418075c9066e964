// Face and edge adjacency with per-vertex edge chains, and the vertex cache model.
#include "StripifyInternal.h"

namespace {

// Links a new edge (a, b) with `face` as its first face at the head of both chains; the caller indexes it.
int32_t AddEdge(StripifyInfo& info, int32_t a, int32_t b, int32_t face)
{
    int32_t id = int32_t(info.edges.size());
    StripEdge e;
    e.v0 = a;
    e.v1 = b;
    e.face0 = face;
    e.next0 = info.chainHead[a];
    e.next1 = info.chainHead[b];
    info.edges.push_back(e);
    info.chainHead[a] = id;
    info.chainHead[b] = id;
    return id;
}

} // namespace

int EffectiveCacheSize(int cacheSize) { return cacheSize - 6 >= 1 ? cacheSize - 6 : 1; }


void IndexHashTable::Reset(size_t expectedCount)
{
    size_t capacity = 16;
    while (capacity < expectedCount * 2)
        capacity *= 2;
    slots_.assign(capacity, -1);
    mask_ = capacity - 1;
}

void IndexHashTable::Insert(uint64_t hash, int32_t index)
{
    size_t slot = hash & mask_;
    while (slots_[slot] >= 0)
        slot = (slot + 1) & mask_;
    slots_[slot] = index;
}

int32_t OtherFace(const StripifyInfo& info, int32_t a, int32_t b, int32_t from)
{
    if (from >= 0) {
        const StripFace& f = info.faces[from];
        for (int k = 0; k < 3; ++k) {
            int32_t x = f.v[k], y = f.v[k == 2 ? 0 : k + 1];
            if ((x == a && y == b) || (x == b && y == a))
                return info.neighbours[3 * size_t(from) + k];
        }
    }
    int32_t id = FindEdge(info, a, b);
    if (id < 0)
        return -1;
    const StripEdge& e = info.edges[id];
    return e.face0 == from ? e.face1 : e.face0;
}

void BuildStripifyInfo(const int32_t* tris, size_t triangleCount, int32_t vertexCount, StripifyInfo& info)
{
    info.faces.clear();
    info.edges.clear();
    info.faceEdges.clear();
    info.faceEdges.reserve(triangleCount * 3);
    info.faces.reserve(triangleCount);
    info.edges.reserve(triangleCount * 3 / 2 + 3);
    info.chainHead.assign(size_t(vertexCount), -1);
    info.edgeIndex.Reset(triangleCount * 3);
    // Kept faces by exact index order: a repeat is found in constant time instead of by comparing with every face.
    IndexHashTable faceIndex;
    faceIndex.Reset(triangleCount);

    for (size_t t = 0; t < triangleCount; ++t) {
        StripFace face;
        face.v[0] = tris[3 * t];
        face.v[1] = tris[3 * t + 1];
        face.v[2] = tris[3 * t + 2];
        if (IsDegenerate(face))
            continue;
        int32_t id = int32_t(info.faces.size());
        bool mightExist = true;
        int32_t updated[3] = {-1, -1, -1};
        int32_t faceEdges[3];
        for (int k = 0; k < 3; ++k) {
            int32_t a = face.v[k], b = face.v[k == 2 ? 0 : k + 1];
            int32_t& slot = info.edgeIndex.SlotFor(EdgeHash(a, b), EdgeMatcher{info.edges, a, b});
            int32_t edge = slot;
            faceEdges[k] = edge;
            if (edge < 0) {
                mightExist = false;
                slot = AddEdge(info, a, b, id);
                faceEdges[k] = slot;
            } else if (info.edges[edge].face1 >= 0) {
                OrderConsoleLine("BuildStripifyInfo: > 2 triangles on an edge... uncertain consequences\n");
            } else {
                info.edges[edge].face1 = id;
                updated[k] = edge;
            }
        }
        // Only a face none of whose edges is new can repeat a kept one.
        int32_t& kept = faceIndex.SlotFor(HashTriple(uint32_t(face.v[0]), uint32_t(face.v[1]), uint32_t(face.v[2])),
                                          [&](int32_t other) {
                                              const StripFace& o = info.faces[other];
                                              return mightExist && o.v[0] == face.v[0] && o.v[1] == face.v[1] &&
                                                     o.v[2] == face.v[2];
                                          });
        if (kept >= 0) {
            for (int32_t edge : updated)
                if (edge >= 0)
                    info.edges[edge].face1 = -1;
            continue;
        }
        kept = id;
        info.faces.push_back(face);
        info.faceEdges.insert(info.faceEdges.end(), faceEdges, faceEdges + 3);
    }
    info.sharedStart.assign(size_t(vertexCount) + 1, 0);
    info.sharedEdges.clear();
    for (int32_t v = 0; v < vertexCount; ++v) {
        for (int32_t id = info.chainHead[v]; id >= 0;) {
            const StripEdge& e = info.edges[id];
            if (e.face1 >= 0)
                info.sharedEdges.push_back(id);
            id = e.v0 == v ? e.next0 : e.next1;
        }
        info.sharedStart[v + 1] = uint32_t(info.sharedEdges.size());
    }
    info.neighbours.resize(info.faceEdges.size());
    for (size_t i = 0; i < info.faceEdges.size(); ++i) {
        const StripEdge& e = info.edges[info.faceEdges[i]];
        int32_t face = int32_t(i / 3);
        info.neighbours[i] = e.face0 == face ? e.face1 : e.face0;
    }
}

void VertexCacheModel::AddFace(const StripFace& f)
{
    for (int32_t v : f.v)
        Add(v);
}

int VertexCacheModel::FaceHits(const StripFace& f) const
{
    return int(Has(f.v[0])) + int(Has(f.v[1])) + int(Has(f.v[2]));
}
