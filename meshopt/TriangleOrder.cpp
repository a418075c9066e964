// Entry points: settings, vertex ids, the search and ordering stages, the list output and its validation.
#include "TriangleOrder.h"

#include "StripifyInternal.h"

#include <algorithm>
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

// The settings that the ordering reads; the strip output settings only exist for the setters' sake, as the
// optimiser makes lists.
struct OrderSettings {
    int cacheSize = 16;
    unsigned minStripLength = 0;
};

OrderSettings settings;
FILE* console = nullptr;

// The rotation of a triangle that starts at its smallest index; a b c, b c a and c a b share it.
template <class Index>
std::array<Index, 3> Canonical(const Index* v)
{
    if (v[1] < v[0] && v[1] < v[2])
        return {v[1], v[2], v[0]};
    if (v[2] < v[0] && v[2] < v[1])
        return {v[2], v[0], v[1]};
    return {v[0], v[1], v[2]};
}

template <class Index>
bool Validate(const Index* input, size_t triangleCount, std::vector<Index>& ordered)
{
    // Distinct input triangles (exact index order) and, per rotation class, how many of them the list still owes.
    std::vector<std::array<Index, 3>> exact, rotations;
    std::vector<uint32_t> owed;
    IndexHashTable exactTable, rotationTable;
    exactTable.Reset(triangleCount);
    rotationTable.Reset(triangleCount);
    auto hash = [](const std::array<Index, 3>& t) { return HashTriple(uint32_t(t[0]), uint32_t(t[1]), uint32_t(t[2])); };
    auto find = [](const IndexHashTable& table, const std::vector<std::array<Index, 3>>& keys,
                   const std::array<Index, 3>& key, uint64_t h) {
        return table.Find(h, [&](int32_t i) { return keys[i] == key; });
    };
    std::vector<Index> inputOrder;
    for (size_t t = 0; t < triangleCount; ++t) {
        const Index* v = input + 3 * t;
        if (v[0] == v[1] || v[1] == v[2] || v[2] == v[0])
            continue;
        std::array<Index, 3> key = {v[0], v[1], v[2]};
        uint64_t h = hash(key);
        if (find(exactTable, exact, key, h) >= 0)
            continue;
        exactTable.Insert(h, int32_t(exact.size()));
        exact.push_back(key);
        inputOrder.insert(inputOrder.end(), v, v + 3);
        std::array<Index, 3> rotation = Canonical(v);
        uint64_t rh = hash(rotation);
        int32_t found = find(rotationTable, rotations, rotation, rh);
        if (found < 0) {
            rotationTable.Insert(rh, int32_t(rotations.size()));
            rotations.push_back(rotation);
            owed.push_back(1);
        } else {
            ++owed[found];
        }
    }
    bool valid = ordered.size() == inputOrder.size();
    for (size_t i = 0; valid && i < ordered.size(); i += 3) {
        std::array<Index, 3> rotation = Canonical(ordered.data() + i);
        int32_t found = find(rotationTable, rotations, rotation, hash(rotation));
        valid = found >= 0 && owed[found] > 0;
        if (valid)
            --owed[found];
    }
    if (!valid)
        ordered = std::move(inputOrder);
    return valid;
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
            ordered.push_back(values.empty() ? Index(v) : values[v]);
    };
    // Degenerate faces (fake ones among them) only served the strips.
    for (int32_t ref : orderedRefs)
        if (!IsDegenerate(strips.Face(info, ref)))
            append(strips.Face(info, ref));
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
