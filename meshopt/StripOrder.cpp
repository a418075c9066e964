// Cutting strips into cache-sized pieces, dissolving short pieces, and ordering pieces and loose faces by the
// hits they score against a FIFO vertex cache model.
#include "StripifyInternal.h"

#include <utility>

namespace {

// A list of items (pieces or loose faces), each a run of face references.
struct ItemList {
    explicit ItemList(OrderScratch& scratch) : refs(scratch), start(1, 0, scratch) {}

    ScratchVector<int32_t> refs;
    ScratchVector<uint32_t> start;  // item i is refs[start[i] .. start[i + 1])

    size_t Count() const { return start.size() - 1; }
    uint32_t Size(size_t i) const { return start[i + 1] - start[i]; }
    void Close() { start.push_back(uint32_t(refs.size())); }
};

// Greedy placement of items by cache hits per face. Rather than scoring every unplaced item after each
// placement, it keeps each item's hit count up to date as vertices enter and leave the cache model, and scans
// only the items that have any hits; the choice is the same as that of the full scan.
class CacheOrder {
public:
    CacheOrder(const StripifyInfo& info, const StripSet& strips, const ItemList& items, int cacheSize,
               const ScratchVector<char>* clockwise)
        : info_(info),
          strips_(strips),
          items_(items),
          cache_(cacheSize, size_t(info.vertexCount), info.scratch),
          clockwise_(clockwise),
          hits_(items.Count(), 0, info.scratch),
          placed_(items.Count(), 0, info.scratch),
          candidatePos_(items.Count(), -1, info.scratch),
          candidates_(info.scratch),
          userStart_(info.scratch),
          userEnd_(info.scratch),
          users_(info.scratch),
          bySide_{ScratchVector<int32_t>(info.scratch), ScratchVector<int32_t>(info.scratch)}
    {
        BuildVertexIndex();
        if (clockwise_)
            for (int side = 0; side < 2; ++side) {
                for (size_t i = 0; i < items.Count(); ++i)
                    if ((*clockwise_)[i] == side)
                        bySide_[side].push_back(int32_t(i));
                lastOfSide_[side] = bySide_[side].size();
            }
    }

    // The next item to place: the most hits per face (the full scan's first of the best), or among equal best
    // values the last one whose first triangle's winding equals `wantClockwise`. -1 when all are placed.
    int32_t Pick(bool wantClockwise)
    {
        if (candidates_.empty()) {
            while (firstUnplaced_ < items_.Count() && placed_[firstUnplaced_])
                ++firstUnplaced_;
            if (firstUnplaced_ == items_.Count())
                return -1;
            if (clockwise_) {
                int side = wantClockwise ? 1 : 0;
                size_t& last = lastOfSide_[side];
                while (last > 0 && placed_[bySide_[side][last - 1]])
                    --last;
                if (last > 0)
                    return bySide_[side][last - 1];
            }
            return int32_t(firstUnplaced_);
        }
        float best = -1.0f;
        int32_t first = -1, lastMatch = -1;
        for (int32_t c : candidates_) {
            float score = float(hits_[c]) / float(items_.Size(size_t(c)));
            bool match = clockwise_ && ((*clockwise_)[c] != 0) == wantClockwise;
            if (score > best) {
                best = score;
                first = c;
                lastMatch = match ? c : -1;
            } else if (score == best) {
                if (c < first)
                    first = c;
                if (match && c > lastMatch)
                    lastMatch = c;
            }
        }
        return lastMatch >= 0 ? lastMatch : first;
    }

    void Place(int32_t item)
    {
        placed_[item] = 1;
        RemoveCandidate(item);
        for (uint32_t r = items_.start[item]; r < items_.start[item + 1]; ++r)
            for (int32_t v : strips_.Face(info_, items_.refs[r]).v) {
                int32_t dropped = -1;
                if (!cache_.Add(v, &dropped))
                    continue;
                if (dropped >= 0)
                    ChangeHits(dropped, -1);
                ChangeHits(v, +1);
            }
    }

private:
    // Per vertex, the items using it with the number of face slots in which they do: room counted per vertex,
    // then filled item by item, so an item's repeated uses of a vertex meet at the end of the vertex's run.
    void BuildVertexIndex()
    {
        size_t vertexCount = size_t(info_.vertexCount);
        userStart_.assign(vertexCount + 1, 0);
        for (int32_t ref : items_.refs)
            for (int32_t v : strips_.Face(info_, ref).v)
                ++userStart_[size_t(v) + 1];
        for (size_t v = 0; v < vertexCount; ++v)
            userStart_[v + 1] += userStart_[v];
        userEnd_.assign(userStart_.begin(), userStart_.end() - 1);
        users_.resize(userStart_[vertexCount]);
        for (size_t i = 0; i < items_.Count(); ++i)
            for (uint32_t r = items_.start[i]; r < items_.start[i + 1]; ++r)
                for (int32_t v : strips_.Face(info_, items_.refs[r]).v) {
                    uint32_t& end = userEnd_[size_t(v)];
                    if (end > userStart_[size_t(v)] && users_[end - 1].item == int32_t(i))
                        ++users_[end - 1].uses;
                    else
                        users_[end++] = User(int32_t(i), 1);
                }
    }

    void ChangeHits(int32_t v, int sign)
    {
        for (uint32_t u = userStart_[size_t(v)]; u < userEnd_[size_t(v)]; ++u) {
            int32_t item = users_[u].item;
            if (placed_[item])
                continue;
            int32_t before = hits_[item];
            hits_[item] += sign * users_[u].uses;
            if (before == 0)
                AddCandidate(item);
            else if (hits_[item] == 0)
                RemoveCandidate(item);
        }
    }

    void AddCandidate(int32_t item)
    {
        candidatePos_[item] = int32_t(candidates_.size());
        candidates_.push_back(item);
    }

    void RemoveCandidate(int32_t item)
    {
        int32_t pos = candidatePos_[item];
        if (pos < 0)
            return;
        int32_t moved = candidates_.back();
        candidates_[pos] = moved;
        candidatePos_[moved] = pos;
        candidates_.pop_back();
        candidatePos_[item] = -1;
    }

    const StripifyInfo& info_;
    const StripSet& strips_;
    const ItemList& items_;
    VertexCacheModel cache_;
    const ScratchVector<char>* clockwise_;
    ScratchVector<int32_t> hits_;
    ScratchVector<char> placed_;
    ScratchVector<int32_t> candidatePos_;
    ScratchVector<int32_t> candidates_;
    struct User {
        User() {}  // filled before it is read
        User(int32_t i, int32_t n) : item(i), uses(n) {}
        int32_t item, uses;
    };
    ScratchVector<uint32_t> userStart_, userEnd_;  // vertex v's users are users_[userStart_[v] .. userEnd_[v])
    ScratchVector<User> users_;
    size_t firstUnplaced_ = 0;
    ScratchVector<int32_t> bySide_[2];
    size_t lastOfSide_[2] = {0, 0};
};

// Appends faces from `cursor` on to the open piece until `count` non-degenerate faces are taken; degenerate
// faces before the piece's first non-degenerate one are skipped unless `keepLeading`.
uint32_t TakeFaces(const StripSet& strips, uint32_t cursor, uint32_t count, bool keepLeading, ItemList& pieces)
{
    bool started = keepLeading;
    while (count > 0) {
        int32_t ref = strips.refs[cursor++];
        if (IsFake(ref)) {
            if (started)
                pieces.refs.push_back(ref);
            continue;
        }
        pieces.refs.push_back(ref);
        started = true;
        --count;
    }
    return cursor;
}

void CutStrips(const StripSet& strips, uint32_t limit, ItemList& pieces)
{
    for (const StripRange& strip : strips.strips) {
        uint32_t faces = 0;
        for (uint32_t r = strip.begin; r < strip.end; ++r)
            faces += !IsFake(strips.refs[r]);
        if (faces <= limit) {
            pieces.refs.insert(pieces.refs.end(), strips.refs.begin() + strip.begin, strips.refs.begin() + strip.end);
            pieces.Close();
            continue;
        }
        uint32_t fullPieces = faces / limit, remainder = faces % limit;
        bool appendRemainder = remainder >= 1 && remainder <= 3;
        uint32_t cursor = strip.begin;
        for (uint32_t j = 0; j < fullPieces; ++j) {
            cursor = TakeFaces(strips, cursor, limit, false, pieces);
            // A remainder of one to three faces would make a piece too short to pay for itself.
            if (j + 1 == fullPieces && appendRemainder)
                cursor = TakeFaces(strips, cursor, remainder, true, pieces);
            pieces.Close();
        }
        if (remainder > 0 && !appendRemainder) {
            TakeFaces(strips, cursor, remainder, false, pieces);
            pieces.Close();
        }
    }
}

int NeighbourCount(const StripifyInfo& info, const StripFace& f, int32_t ref)
{
    int count = 0;
    // A real face's neighbours are known; a fake face (p, q, p) is looked up by its edges.
    for (int k = 0; k < 3; ++k)
        count +=
            (ref >= 0 ? info.neighbours[3 * size_t(ref) + k] : OtherFace(info, f.v[k], f.v[(k + 1) % 3], ref)) >= 0;
    return count;
}

// Whether the piece's first triangle, read in the order the piece runs through its vertices, is clockwise.
bool FirstIsClockwise(const StripifyInfo& info, const StripSet& strips, const ItemList& pieces, size_t piece)
{
    const int32_t* refs = pieces.refs.data() + pieces.start[piece];
    uint32_t size = pieces.Size(piece);
    const StripFace& first = strips.Face(info, refs[0]);
    int32_t t[3] = {first.v[0], first.v[1], first.v[2]};
    if (size > 1) {
        const StripFace& second = strips.Face(info, refs[1]);
        if (FaceHas(second, t[0])) {
            if (!FaceHas(second, t[1]))
                std::swap(t[0], t[1]);
            else if (!FaceHas(second, t[2]))
                std::swap(t[0], t[2]);
        }
        if (size > 2) {
            const StripFace& third = strips.Face(info, refs[2]);
            if (FaceHas(third, t[1]) && !FaceHas(third, t[0]) && !FaceHas(third, t[2]))
                std::swap(t[1], t[2]);
        }
    }
    return (t[0] == first.v[0] && t[1] == first.v[1]) || (t[0] == first.v[1] && t[1] == first.v[2]) ||
           (t[0] == first.v[2] && t[1] == first.v[0]);
}

void OrderPieces(const StripifyInfo& info, const StripSet& strips, const ItemList& pieces, int cacheSize,
                 ScratchVector<int32_t>& ordered)
{
    if (pieces.Count() == 0)
        return;
    size_t firstPiece = 0;
    float minCost = 10000.0f;
    ScratchVector<char> clockwise(pieces.Count(), 0, info.scratch);
    for (size_t i = 0; i < pieces.Count(); ++i) {
        int neighbours = 0;
        for (uint32_t r = pieces.start[i]; r < pieces.start[i + 1]; ++r)
            neighbours += NeighbourCount(info, strips.Face(info, pieces.refs[r]), pieces.refs[r]);
        float cost = float(neighbours) / float(pieces.Size(i));
        if (cost < minCost) {
            minCost = cost;
            firstPiece = i;
        }
        clockwise[i] = FirstIsClockwise(info, strips, pieces, i);
    }
    CacheOrder order(info, strips, pieces, cacheSize, &clockwise);
    bool wantClockwise = pieces.Size(firstPiece) % 2 == 0;
    for (int32_t piece = int32_t(firstPiece); piece >= 0; piece = order.Pick(wantClockwise)) {
        order.Place(piece);
        ordered.insert(ordered.end(), pieces.refs.begin() + pieces.start[piece],
                       pieces.refs.begin() + pieces.start[piece + 1]);
        if (piece != int32_t(firstPiece) && pieces.Size(size_t(piece)) % 2 == 1)
            wantClockwise = !wantClockwise;
    }
}

}  // namespace

void CutAndOrderStrips(const StripifyInfo& info, const StripSet& strips, int cacheSize, unsigned minStripLength,
                       ScratchVector<int32_t>& orderedRefs, ScratchVector<int32_t>& looseRefs)
{
    int limit = EffectiveCacheSize(cacheSize);
    ItemList pieces(info.scratch);
    CutStrips(strips, uint32_t(limit), pieces);

    orderedRefs.clear();
    looseRefs.clear();
    bool dissolves = false;
    for (size_t i = 0; i < pieces.Count() && !dissolves; ++i)
        dissolves = pieces.Size(i) < minStripLength;
    if (!dissolves) {
        OrderPieces(info, strips, pieces, limit, orderedRefs);
        return;
    }

    ItemList kept(info.scratch), loose(info.scratch);
    for (size_t i = 0; i < pieces.Count(); ++i) {
        if (pieces.Size(i) >= minStripLength) {
            kept.refs.insert(kept.refs.end(), pieces.refs.begin() + pieces.start[i],
                             pieces.refs.begin() + pieces.start[i + 1]);
            kept.Close();
            continue;
        }
        // Fake faces of a dissolved piece only served its parity and are never output.
        for (uint32_t r = pieces.start[i]; r < pieces.start[i + 1]; ++r)
            if (!IsFake(pieces.refs[r])) {
                loose.refs.push_back(pieces.refs[r]);
                loose.Close();
            }
    }

    OrderPieces(info, strips, kept, limit, orderedRefs);

    if (loose.Count() == 0)
        return;
    CacheOrder order(info, strips, loose, limit, nullptr);
    for (int32_t face = order.Pick(false); face >= 0; face = order.Pick(false)) {
        order.Place(face);
        looseRefs.push_back(loose.refs[face]);
    }
}
