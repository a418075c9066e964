// Entry points: vertex ids, the search and ordering stages, the list output and its validation.
#include "TriangleOrder.h"

#include "StripifyInternal.h"

#include <algorithm>
#include <new>
#include <unordered_map>

namespace {

// Turns the index values of whole triangles into dense vertex ids, numbered in order of first use, so that the
// per-vertex tables are as large as the number of vertices the list uses, and vertices used together lie close
// together. Values up to a few times the list's length (every 16-bit value among them) go through a flat table,
// which is far faster than hashing; others (wide 32-bit values, or one material's few triangles among many
// vertices) through a hash table. Only equality of vertices matters to the
// optimiser, so the numbering does not change the order. values[id] is the value of vertex id.
template <class Index>
int32_t MakeVertexIds(const Index* indices, size_t count, ScratchVector<int32_t>& ids, ScratchVector<Index>& values)
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
    if (largest < 8 * uint64_t(count) + 65536) {
        ScratchVector<int32_t> idOf(size_t(largest) + 1, -1, ids.get_allocator());
        for (size_t i = 0; i < count; ++i)
            ids[i] = number(idOf[indices[i]], indices[i]);
        return int32_t(values.size());
    }
    IndexHashTable table;
    table.Reset(count);
    for (size_t i = 0; i < count; ++i) {
        Index v = indices[i];
        ids[i] =
            number(table.SlotFor(HashTriple(uint32_t(v), 0, 0), [&](int32_t known) { return values[known] == v; }), v);
    }
    return int32_t(values.size());
}

// The input's distinct non-degenerate triangles, grouped by rotation class: a b c, b c a and c a b share the class
// of the rotation that starts at the smallest vertex, and each class lives in the run of that vertex, so a look-up
// reads a few neighbouring entries. Exact repeats count once.
class TriangleClasses {
public:
    TriangleClasses(const int32_t* input, size_t triangleCount, int32_t vertexCount, OrderScratch& scratch)
        : input_(input),
          triangleCount_(triangleCount),
          start_(size_t(vertexCount) + 1, 0, scratch),
          end_(scratch),
          classes_(scratch),
          classOf_(scratch)
    {
        for (size_t t = 0; t < triangleCount; ++t)
            if (!IsDegenerate(input + 3 * t))
                ++start_[size_t(Smallest(input + 3 * t)) + 1];
        for (size_t v = 0; v + 1 < start_.size(); ++v)
            start_[v + 1] += start_[v];
        end_.assign(start_.begin(), start_.end() - 1);
        classes_.resize(start_.back());
        classOf_.resize(triangleCount);
        for (size_t t = 0; t < triangleCount; ++t) {
            const int32_t* v = input + 3 * t;
            if (IsDegenerate(v))
                continue;
            int rotation = 0;
            Class& c = Find(v, rotation, true);
            classOf_[t] = uint32_t(&c - classes_.data());
            if (!(c.rotations & 1 << rotation)) {
                c.rotations |= uint8_t(1 << rotation);
                ++c.owed;
                ++distinct_;
            }
        }
    }

    // Whether the list of `count` triangles holds each distinct triangle once, in one of its rotations, and
    // nothing else. `triangle(i, hint)` gives the vertices of the list's triangle i and may set `hint` to the
    // input triangle it should equal, which spares the search for its class.
    template <class Triangle>
    bool Matches(size_t count, Triangle&& triangle)
    {
        if (count != distinct_)
            return false;
        for (size_t i = 0; i < count; ++i) {
            size_t hint = triangleCount_;
            const int32_t* v = triangle(i, hint);
            if (IsDegenerate(v))
                return false;
            int rotation = 0;
            Class* c = hint < triangleCount_ ? Hinted(v, hint, rotation) : nullptr;
            if (!c)
                c = &Find(v, rotation, false);
            if (c->owed == 0)
                return false;
            --c->owed;
        }
        return true;
    }

    bool Matches(const std::vector<int32_t>& ordered)
    {
        return ordered.size() % 3 == 0 &&
               Matches(ordered.size() / 3, [&](size_t i, size_t&) { return &ordered[3 * i]; });
    }

    // The distinct triangles in input order.
    std::vector<int32_t> InInputOrder()
    {
        std::vector<int32_t> list;
        for (size_t t = 0; t < triangleCount_; ++t) {
            const int32_t* v = input_ + 3 * t;
            int rotation = 0;
            if (IsDegenerate(v))
                continue;
            Class& c = Find(v, rotation, false);
            if (!(c.listed & 1 << rotation)) {
                c.listed |= uint8_t(1 << rotation);
                list.insert(list.end(), v, v + 3);
            }
        }
        return list;
    }

private:
    struct Class {
        int32_t second = -1, third = -1;
        uint32_t owed = 0;
        uint8_t rotations = 0, listed = 0;
    };

    // The class of input triangle `hint` if triangle v belongs to it, else null.
    Class* Hinted(const int32_t* v, size_t hint, int& rotation)
    {
        if (IsDegenerate(input_ + 3 * hint))
            return nullptr;
        rotation = v[1] < v[0] && v[1] < v[2] ? 1 : v[2] < v[0] && v[2] < v[1] ? 2 : 0;
        int32_t first = v[rotation];
        uint32_t at = classOf_[hint];
        Class& c = classes_[at];
        bool inRun =
            first >= 0 && size_t(first) < end_.size() && at >= start_[size_t(first)] && at < end_[size_t(first)];
        return inRun && c.second == v[(rotation + 1) % 3] && c.third == v[(rotation + 2) % 3] ? &c : nullptr;
    }

    static int32_t Smallest(const int32_t* v) { return std::min(v[0], std::min(v[1], v[2])); }

    // The class of triangle v and which rotation of it v is. A missing class is added when `add`, else the
    // result is a class that matches nothing (`missing_`).
    Class& Find(const int32_t* v, int& rotation, bool add)
    {
        rotation = v[1] < v[0] && v[1] < v[2] ? 1 : v[2] < v[0] && v[2] < v[1] ? 2 : 0;
        int32_t first = v[rotation], second = v[(rotation + 1) % 3], third = v[(rotation + 2) % 3];
        if (first < 0 || size_t(first) >= end_.size())
            return missing_ = Class();
        uint32_t& end = end_[size_t(first)];
        for (uint32_t i = start_[size_t(first)]; i < end; ++i)
            if (classes_[i].second == second && classes_[i].third == third)
                return classes_[i];
        if (!add)
            return missing_ = Class();
        Class& c = classes_[end++];
        c.second = second;
        c.third = third;
        return c;
    }

    const int32_t* input_;
    size_t triangleCount_;
    ScratchVector<uint32_t> start_, end_;
    ScratchVector<Class> classes_;
    ScratchVector<uint32_t> classOf_;  // per input triangle, its class (degenerate ones: unset)
    Class missing_;
    size_t distinct_ = 0;
};

template <class Index>
bool ValidateValues(const Index* input, size_t triangleCount, std::vector<Index>& ordered, OrderScratch& scratch)
{
    // Numbered together, values the input lacks get ids no input triangle uses.
    ScratchVector<Index> all(input, input + 3 * triangleCount, scratch);
    all.insert(all.end(), ordered.begin(), ordered.end());
    ScratchVector<int32_t> ids(scratch);
    ScratchVector<Index> values(scratch);
    int32_t vertexCount = MakeVertexIds(all.data(), all.size(), ids, values);
    std::vector<int32_t> orderedIds(ids.begin() + 3 * triangleCount, ids.end());
    bool valid = KeepOrFallBack(ids.data(), triangleCount, vertexCount, orderedIds, scratch);
    ordered.clear();
    for (int32_t id : orderedIds)
        ordered.push_back(values[size_t(id)]);
    return valid;
}

template <class Index>
OrderResult Order(Index* destination, const Index* indices, uint32_t indexCount, const OrderOptions& options,
                  OrderScratch& scratch)
{
    OrderResult result;
    // A trailing partial triangle is never read.
    size_t triangleCount = indexCount / 3;
    ScratchVector<int32_t> ids(scratch);
    ScratchVector<Index> values(scratch);
    int32_t vertexCount = MakeVertexIds(indices, triangleCount * 3, ids, values);

    StripifyInfo info(scratch, result.console);
    BuildStripifyInfo(ids.data(), triangleCount, vertexCount, info);
    StripSet strips(scratch);
    FindAllStrips(info, strips);
    ScratchVector<int32_t> orderedRefs(scratch), looseRefs(scratch);
    CutAndOrderStrips(info, strips, options.cacheSize, options.minStripLength, orderedRefs, looseRefs);

    // Fake faces only served the strips.
    ScratchVector<int32_t> output(scratch);
    output.reserve(orderedRefs.size() + looseRefs.size());
    for (int32_t ref : orderedRefs)
        if (!IsFake(ref))
            output.push_back(ref);
    output.insert(output.end(), looseRefs.begin(), looseRefs.end());

    std::vector<int32_t> fallback;
    // An order longer than the input would not fit the destination: it is checked even without validation.
    if (options.validate || output.size() > triangleCount) {
        TriangleClasses classes(ids.data(), triangleCount, vertexCount, scratch);
        result.valid = classes.Matches(output.size(), [&](size_t i, size_t& hint) {
            hint = info.sources[size_t(output[i])];
            return info.faces[size_t(output[i])].v;
        });
        if (!result.valid)
            fallback = classes.InInputOrder();
    }

    Index* out = destination;
    if (result.valid) {
        for (int32_t face : output)
            for (int32_t v : info.faces[size_t(face)].v)
                *out++ = values[size_t(v)];
    } else {
        for (int32_t v : fallback)
            *out++ = values[size_t(v)];
    }
    result.indexCount = uint32_t(out - destination);
    return result;
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

}  // namespace

void OrderConsole::Add(const char* text)
{
    if (!runs.empty() && runs.back().text == text)
        ++runs.back().count;
    else
        runs.push_back(Run{text, 1});
}

void OrderConsole::Print(FILE* sink) const
{
    for (const Run& run : runs)
        for (uint32_t i = 0; i < run.count; ++i) {
            std::fputs(run.text, sink);
            std::fflush(sink);
        }
}

bool KeepOrFallBack(const int32_t* input, size_t triangleCount, int32_t vertexCount, std::vector<int32_t>& ordered,
                    OrderScratch& scratch)
{
    TriangleClasses classes(input, triangleCount, vertexCount, scratch);
    if (classes.Matches(ordered))
        return true;
    ordered = classes.InInputOrder();
    return false;
}

bool KeepOrFallBack(const uint16_t* input, size_t triangleCount, std::vector<uint16_t>& ordered, OrderScratch& scratch)
{
    return ValidateValues(input, triangleCount, ordered, scratch);
}

bool KeepOrFallBack(const uint32_t* input, size_t triangleCount, std::vector<uint32_t>& ordered, OrderScratch& scratch)
{
    return ValidateValues(input, triangleCount, ordered, scratch);
}

template <class Index>
OrderResult OrderOrReportMemory(Index* destination, const Index* indices, uint32_t indexCount,
                                const OrderOptions& options, OrderScratch& scratch)
{
    try {
        return Order(destination, indices, indexCount, options, scratch);
    } catch (const std::bad_alloc&) {
        OrderResult result;
        result.valid = false;
        result.outOfMemory = true;
        return result;
    }
}

OrderResult OrderTriangles(uint16_t* destination, const uint16_t* indices, uint32_t indexCount,
                           const OrderOptions& options, OrderScratch& scratch)
{
    return OrderOrReportMemory(destination, indices, indexCount, options, scratch);
}

OrderResult OrderTriangles(uint32_t* destination, const uint32_t* indices, uint32_t indexCount,
                           const OrderOptions& options, OrderScratch& scratch)
{
    return OrderOrReportMemory(destination, indices, indexCount, options, scratch);
}

float FifoCacheMissRatio(const uint16_t* indices, uint32_t indexCount, unsigned cacheSize)
{
    return CacheMissRatio(indices, indexCount, cacheSize);
}

float FifoCacheMissRatio(const uint32_t* indices, uint32_t indexCount, unsigned cacheSize)
{
    return CacheMissRatio(indices, indexCount, cacheSize);
}
