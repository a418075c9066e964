// Entry points: vertex ids, the search and ordering stages, the list output and its validation.
#include "TriangleOrder.h"

#include "StripifyInternal.h"

#include <array>
#include <unordered_map>

namespace {

// Turns the index values of whole triangles into dense vertex ids. Values not much larger than the list is long
// serve as ids directly; other lists (32-bit values, or one material's few triangles among many vertices) are
// renumbered in order of first use, so the per-vertex tables stay as large as the list. Only equality of
// vertices matters to the optimiser, so both give the same order. `values` is left empty for the identity.
template <class Index>
int32_t MakeVertexIds(const Index* indices, size_t count, std::vector<int32_t>& ids, std::vector<Index>& values)
{
    ids.resize(count);
    uint64_t largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = indices[i] > largest ? indices[i] : largest;
    if (largest < 2 * uint64_t(count) + 4096) {
        for (size_t i = 0; i < count; ++i)
            ids[i] = int32_t(indices[i]);
        return count ? int32_t(largest + 1) : 0;
    }
    IndexHashTable table;
    table.Reset(count);
    for (size_t i = 0; i < count; ++i) {
        Index v = indices[i];
        uint64_t hash = HashTriple(uint32_t(v), 0, 0);
        int32_t id = table.Find(hash, [&](int32_t known) { return values[known] == v; });
        if (id < 0) {
            id = int32_t(values.size());
            values.push_back(v);
            table.Insert(hash, id);
        }
        ids[i] = id;
    }
    return int32_t(values.size());
}

// The rotation of a triangle that starts at its smallest index; a b c, b c a and c a b share it.
std::array<uint32_t, 3> Canonical(uint32_t a, uint32_t b, uint32_t c)
{
    if (b < a && b < c)
        return {b, c, a};
    if (c < a && c < b)
        return {c, a, b};
    return {a, b, c};
}

// Every non-degenerate output triangle must be an input triangle under rotation (a reversed order does not count).
template <class Index>
bool OutputMatchesInput(const Index* input, size_t triangleCount, const Index* output, uint32_t outputCount)
{
    std::vector<std::array<uint32_t, 3>> known;
    known.reserve(triangleCount);
    IndexHashTable table;
    table.Reset(triangleCount);
    auto find = [&](const std::array<uint32_t, 3>& key, uint64_t hash) {
        return table.Find(hash, [&](int32_t i) { return known[i] == key; });
    };
    for (size_t t = 0; t < triangleCount; ++t) {
        const Index* v = input + 3 * t;
        if (v[0] == v[1] || v[1] == v[2] || v[2] == v[0])
            continue;
        std::array<uint32_t, 3> key = Canonical(v[0], v[1], v[2]);
        uint64_t hash = HashTriple(key[0], key[1], key[2]);
        if (find(key, hash) < 0) {
            table.Insert(hash, int32_t(known.size()));
            known.push_back(key);
        }
    }
    for (uint32_t i = 0; i + 2 < outputCount; i += 3) {
        const Index* v = output + i;
        if (v[0] == v[1] || v[1] == v[2] || v[2] == v[0])
            continue;
        std::array<uint32_t, 3> key = Canonical(v[0], v[1], v[2]);
        if (find(key, HashTriple(key[0], key[1], key[2])) < 0)
            return false;
    }
    return true;
}

template <class Index>
bool Order(const Index* indices, uint32_t indexCount, BasicPrimitiveBatch<Index>** batches, uint16_t* batchCount,
           bool validate)
{
    // A trailing partial triangle is never read.
    size_t triangleCount = indexCount / 3;
    std::vector<int32_t> ids;
    std::vector<Index> values;
    int32_t vertexCount = MakeVertexIds(indices, triangleCount * 3, ids, values);

    const OrderSettings& settings = CurrentOrderSettings();
    StripifyInfo info;
    BuildStripifyInfo(ids.data(), triangleCount, vertexCount, info);
    StripSet strips;
    FindAllStrips(info, strips);
    std::vector<int32_t> ordered, loose;
    CutAndOrderStrips(info, strips, settings.cacheSize, settings.minStripLength, ordered, loose);

    BasicPrimitiveBatch<Index>* batch = new BasicPrimitiveBatch<Index>[1];
    batch->type = PrimitiveList;
    batch->indexCount = uint32_t(3 * (ordered.size() + loose.size()));
    batch->indices = new Index[batch->indexCount];
    auto value = [&](int32_t id) { return values.empty() ? Index(id) : values[id]; };
    uint32_t written = 0;
    auto append = [&](const StripFace& f) {
        for (int32_t v : f.v)
            batch->indices[written++] = value(v);
    };
    for (int32_t ref : ordered) {
        const StripFace& f = strips.Face(info, ref);
        if (IsDegenerate(f))
            batch->indexCount -= 3;
        else
            append(f);
    }
    for (int32_t ref : loose)
        append(strips.Face(info, ref));

    *batches = batch;
    *batchCount = 1;
    return !validate || OutputMatchesInput(indices, triangleCount, batch->indices, batch->indexCount);
}

template <class Index>
float CacheMissRatio(const Index* indices, uint32_t indexCount, unsigned cacheSize)
{
    uint32_t triangleCount = indexCount / 3;
    if (triangleCount == 0)
        return 0.0f;
    // A vertex is cached while fewer than cacheSize misses have happened since it was loaded.
    std::unordered_map<Index, uint64_t> loadedAt;
    uint64_t misses = 0;
    for (uint32_t i = 0; i < triangleCount * 3; ++i) {
        auto it = loadedAt.find(indices[i]);
        if (it != loadedAt.end() && misses - it->second < cacheSize)
            continue;
        loadedAt[indices[i]] = misses++;
    }
    return float(double(misses) / triangleCount);
}

} // namespace

bool OrderTriangles(const uint16_t* indices, uint32_t indexCount, PrimitiveBatch** batches, uint16_t* batchCount,
                    bool validate)
{
    return Order(indices, indexCount, batches, batchCount, validate);
}

bool OrderTriangles32(const uint32_t* indices, uint32_t indexCount, PrimitiveBatch32** batches, uint16_t* batchCount,
                      bool validate)
{
    return Order(indices, indexCount, batches, batchCount, validate);
}

float FifoCacheMissRatio(const uint16_t* indices, uint32_t indexCount, unsigned cacheSize)
{
    return CacheMissRatio(indices, indexCount, cacheSize);
}

float FifoCacheMissRatio(const uint32_t* indices, uint32_t indexCount, unsigned cacheSize)
{
    return CacheMissRatio(indices, indexCount, cacheSize);
}
