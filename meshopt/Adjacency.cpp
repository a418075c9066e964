// Face and edge adjacency with per-vertex edge lists, and the vertex cache model.
#include "StripifyInternal.h"

#include <algorithm>

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

namespace {

bool SameFace(const StripFace& a, const StripFace& b)
{
    return a.v[0] == b.v[0] && a.v[1] == b.v[1] && a.v[2] == b.v[2];
}

// Finds kept faces equal to a new one. A kept face is the first or second face of each of its edges unless an
// edge had two faces already when it came; until that happens somewhere, an equal face is found on the new
// face's first edge. From then on every kept face is also hashed by its index order.
class RepeatFinder {
public:
    explicit RepeatFinder(const StripifyInfo& info) : info_(info) {}

    // An edge refused a face: from now on faces are found by hash, the faces kept so far included.
    void EdgeOverflowed()
    {
        if (hashing_)
            return;
        hashing_ = true;
        table_.Reset(info_.faces.capacity());
        for (int32_t id = 0; id < int32_t(info_.faces.size()); ++id)
            Kept(id);
    }

    // Whether a kept face equals `face`, whose first edge is `firstEdge` and which has id `id` if kept.
    bool Repeats(const StripFace& face, int32_t firstEdge, int32_t id) const
    {
        if (hashing_)
            return table_.Find(Hash(face), [&](int32_t other) { return SameFace(info_.faces[other], face); }) >= 0;
        const StripEdge& e = info_.edges[firstEdge];
        return (e.face0 != id && SameFace(info_.faces[e.face0], face)) ||
               (e.face1 >= 0 && e.face1 != id && SameFace(info_.faces[e.face1], face));
    }

    void Kept(int32_t id)
    {
        if (hashing_)
            table_.Insert(Hash(info_.faces[id]), id);
    }

private:
    static uint64_t Hash(const StripFace& f)
    {
        return HashTriple(uint32_t(f.v[0]), uint32_t(f.v[1]), uint32_t(f.v[2]));
    }

    const StripifyInfo& info_;
    bool hashing_ = false;
    IndexHashTable table_;
};

}  // namespace

void BuildStripifyInfo(const int32_t* tris, size_t triangleCount, int32_t vertexCount, StripifyInfo& info)
{
    info.vertexCount = vertexCount;
    info.faces.clear();
    info.sources.clear();
    info.sources.reserve(triangleCount);
    info.edges.clear();
    info.faceEdges.clear();
    info.faceEdges.reserve(triangleCount * 3);
    info.neighbours.clear();
    info.neighbours.reserve(triangleCount * 3);
    info.faces.reserve(triangleCount);
    info.edges.reserve(triangleCount * 3);

    // Room for each vertex's run: one entry per face edge whose smaller vertex it is.
    const size_t n = size_t(vertexCount);
    ScratchVector<uint32_t> room(n + 1, 0, info.scratch);
    for (size_t t = 0; t < triangleCount; ++t) {
        const int32_t* v = tris + 3 * t;
        if (IsDegenerate(v))
            continue;
        ++room[size_t(std::min(v[0], v[1])) + 1];
        ++room[size_t(std::min(v[1], v[2])) + 1];
        ++room[size_t(std::min(v[2], v[0])) + 1];
    }
    info.edgeRuns.resize(n);
    for (size_t v = 0; v < n; ++v) {
        room[v + 1] += room[v];
        info.edgeRuns[v] = StripifyInfo::Run{room[v], room[v]};
    }
    info.edgeLists.resize(room[n]);

    // The slot of `edge` in the face that made it.
    auto slotInFirstFace = [&](int32_t edge) {
        const int32_t* edges = &info.faceEdges[3 * size_t(info.edges[edge].face0)];
        return 3 * size_t(info.edges[edge].face0) + (edges[0] == edge ? 0 : edges[1] == edge ? 1 : 2);
    };
    RepeatFinder repeats(info);
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
        int32_t faceEdges[3], neighbours[3];
        for (int k = 0; k < 3; ++k) {
            int32_t a = face.v[k], b = face.v[k == 2 ? 0 : k + 1];
            int32_t edge = FindEdge(info, a, b);
            if (edge < 0) {
                mightExist = false;
                edge = int32_t(info.edges.size());
                info.edges.emplace_back(a, b, id);
                info.edgeLists[info.edgeRuns[size_t(std::min(a, b))].end++] = VertexEdge(std::max(a, b), edge);
                neighbours[k] = -1;
            } else {
                StripEdge& e = info.edges[edge];
                if (e.face1 >= 0) {
                    info.console.Add("BuildStripifyInfo: > 2 triangles on an edge... uncertain consequences\n");
                    repeats.EdgeOverflowed();
                } else {
                    e.face1 = id;
                    updated[k] = edge;
                }
                // A face the edge does not record still sees the edge's first face across it.
                neighbours[k] = e.face0;
            }
            faceEdges[k] = edge;
        }
        // Only a face none of whose edges is new can repeat a kept one.
        if (mightExist && repeats.Repeats(face, faceEdges[0], id)) {
            for (int32_t edge : updated)
                if (edge >= 0)
                    info.edges[edge].face1 = -1;
            continue;
        }
        for (int32_t edge : updated)
            if (edge >= 0)
                info.neighbours[slotInFirstFace(edge)] = id;
        info.faces.push_back(face);
        info.sources.push_back(uint32_t(t));
        info.faceEdges.insert(info.faceEdges.end(), faceEdges, faceEdges + 3);
        info.neighbours.insert(info.neighbours.end(), neighbours, neighbours + 3);
        repeats.Kept(id);
    }
    // Each vertex's shared edges, newest first: counted, then placed from the oldest edge on, each vertex's run
    // filled from its end.
    info.sharedStart.assign(n + 1, 0);
    for (const StripEdge& e : info.edges)
        if (e.face1 >= 0) {
            ++info.sharedStart[size_t(e.v0) + 1];
            ++info.sharedStart[size_t(e.v1) + 1];
        }
    for (size_t v = 0; v < n; ++v)
        info.sharedStart[v + 1] += info.sharedStart[v];
    info.sharedEdges.resize(info.sharedStart[n]);
    ScratchVector<uint32_t> fill(info.sharedStart.begin() + 1, info.sharedStart.end(), info.scratch);
    for (int32_t id = 0; id < int32_t(info.edges.size()); ++id) {
        const StripEdge& e = info.edges[size_t(id)];
        if (e.face1 >= 0) {
            info.sharedEdges[--fill[size_t(e.v0)]] = id;
            info.sharedEdges[--fill[size_t(e.v1)]] = id;
        }
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
