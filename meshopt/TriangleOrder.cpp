// Entry points: settings, vertex ids, the search and ordering stages, the list output and its validation.
#include "TriangleOrder.h"

#include "StripifyInternal.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace {

// Turns the index values of whole triangles into dense vertex ids, numbered in order of first use, so that the
// per-vertex tables are as large as the number of vertices the list uses, and vertices used together lie close
// together. Values not much larger than the list is long go through a flat table, others (32-bit values, or one
// material's few triangles among many vertices) through a hash table. Only equality of vertices matters to the
// optimiser, so the numbering does not change the order. values[id] is the value of vertex id.
template <class Index>
int32_t MakeVertexIds(const Index* indices, size_t count, std::vector<int32_t>& ids, std::vector<Index>& values)
{
    ids.resize(count);
    uint64_t largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = indices[i] > largest ? indices[i] : largest;
    auto number = [&](int32_t& id, Index v) {
        if (id < 0) {
            id = int32_t(values.size());
            values.push_back(v);
        }
        return id;
    };
    if (largest < 2 * uint64_t(count) + 4096) {
        std::vector<int32_t> idOf(size_t(largest) + 1, -1);
        for (size_t i = 0; i < count; ++i)
            ids[i] = number(idOf[indices[i]], indices[i]);
        return int32_t(values.size());
    }
    IndexHashTable table;
    table.Reset(count);
    for (size_t i = 0; i < count; ++i) {
        Index v = indices[i];
        ids[i] = number(table.SlotFor(HashTriple(uint32_t(v), 0, 0), [&](int32_t known) { return values[known] == v; }),
                        v);
    }
    return int32_t(values.size());
}

// The settings that the ordering reads; the strip output settings only exist for the setters' sake, as the
// optimiser makes lists.
struct OrderSettings {
    int cacheSize = 16;
    unsigned minStripLength = 0;
};

OrderSettings settings;
FILE* console = nullptr;

// The rotation of a triangle that starts at its smallest index (a b c, b c a and c a b share it), and which of
// the three rotations the triangle is.
template <class Index>
std::array<Index, 3> Canonical(const Index* v, int& rotation)
{
    rotation = v[1] < v[0] && v[1] < v[2] ? 1 : v[2] < v[0] && v[2] < v[1] ? 2 : 0;
    return {v[rotation], v[(rotation + 1) % 3], v[(rotation + 2) % 3]};
}

template <class Index>
bool Validate(const Index* input, size_t triangleCount, std::vector<Index>& ordered)
{
    // Per rotation class of the input's triangles: which of its rotations occur (exact repeats count once) and
    // how many of them the list has not shown yet.
    struct Class {
        std::array<Index, 3> key;
        uint8_t rotations = 0, listed = 0;
        uint32_t owed = 0;
    };
    std::vector<Class> classes;
    classes.reserve(triangleCount);
    IndexHashTable table;
    table.Reset(triangleCount);
    auto classOf = [&](const Index* v, int& rotation, bool add) -> Class* {
        std::array<Index, 3> key = Canonical(v, rotation);
        uint64_t hash = HashTriple(uint32_t(key[0]), uint32_t(key[1]), uint32_t(key[2]));
        int32_t found = table.Find(hash, [&](int32_t i) { return classes[i].key == key; });
        if (found < 0 && add) {
            found = int32_t(classes.size());
            table.Insert(hash, found);
            classes.push_back(Class{key});
        }
        return found < 0 ? nullptr : &classes[found];
    };
    auto degenerate = [](const Index* v) { return v[0] == v[1] || v[1] == v[2] || v[2] == v[0]; };
    size_t distinct = 0;
    for (size_t t = 0; t < triangleCount; ++t) {
        const Index* v = input + 3 * t;
        int rotation = 0;
        if (degenerate(v))
            continue;
        Class* c = classOf(v, rotation, true);
        if (!(c->rotations & 1 << rotation)) {
            c->rotations |= uint8_t(1 << rotation);
            ++c->owed;
            ++distinct;
        }
    }
    bool valid = ordered.size() == 3 * distinct;
    for (size_t i = 0; valid && i < ordered.size(); i += 3) {
        int rotation = 0;
        Class* c = classOf(ordered.data() + i, rotation, false);
        valid = c && c->owed > 0;
        if (valid)
            --c->owed;
    }
    if (valid)
        return true;
    ordered.clear();
    for (size_t t = 0; t < triangleCount; ++t) {
        const Index* v = input + 3 * t;
        int rotation = 0;
        if (degenerate(v))
            continue;
        Class* c = classOf(v, rotation, false);
        if (!(c->listed & 1 << rotation)) {
            c->listed |= uint8_t(1 << rotation);
            ordered.insert(ordered.end(), v, v + 3);
        }
    }
    return false;
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

    StripifyInfo info;
    BuildStripifyInfo(ids.data(), triangleCount, vertexCount, info);
    StripSet strips;
    FindAllStrips(info, strips);
    std::vector<int32_t> orderedRefs, looseRefs;
    CutAndOrderStrips(info, strips, settings.cacheSize, settings.minStripLength, orderedRefs, looseRefs);

    std::vector<Index> ordered;
    ordered.reserve(3 * (orderedRefs.size() + looseRefs.size()));
    auto append = [&](const StripFace& f) {
        for (int32_t v : f.v)
            ordered.push_back(values[v]);
    };
    // Fake faces only served the strips.
    for (int32_t ref : orderedRefs)
        if (!IsFake(ref))
            append(info.faces[ref]);
    for (int32_t ref : looseRefs)
        append(strips.Face(info, ref));
    bool valid = !validate || KeepOrFallBack(indices, triangleCount, ordered);

    BasicPrimitiveBatch<Index>* batch = new BasicPrimitiveBatch<Index>[1];
    batch->type = PrimitiveList;
    batch->indexCount = uint32_t(ordered.size());
    batch->indices = new Index[ordered.size()];
    std::copy(ordered.begin(), ordered.end(), batch->indices);
    *batches = batch;
    *batchCount = 1;
    return valid;
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

void SetCacheSize(int cacheSize) { settings.cacheSize = cacheSize; }
void SetStitchStrips(bool) {}
void SetListsOnly(bool) {}
void SetMinStripLength(unsigned minStripLength) { settings.minStripLength = minStripLength; }
void EnableRestart(uint32_t) {}
void DisableRestart() {}
void SetOrderConsole(FILE* sink) { console = sink; }

void SetRenderGeometrySettings()
{
    SetCacheSize(24);
    SetStitchStrips(true);
    SetListsOnly(true);
}

void OrderConsoleLine(const char* text)
{
    FILE* sink = console ? console : stdout;
    std::fputs(text, sink);
    std::fflush(sink);
}

bool KeepOrFallBack(const uint16_t* input, size_t triangleCount, std::vector<uint16_t>& ordered)
{
    return Validate(input, triangleCount, ordered);
}

bool KeepOrFallBack(const uint32_t* input, size_t triangleCount, std::vector<uint32_t>& ordered)
{
    return Validate(input, triangleCount, ordered);
}

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
