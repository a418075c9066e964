#include "ReferenceOrder.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace {

using std::size_t;

struct Face {
    int v0, v1, v2;
    int stripId = -1, testStripId = -1, experimentId = -1;
};

struct Edge {
    int v0, v1;
    int face0 = -1, face1 = -1;
    int next0 = -1, next1 = -1;
};

struct Strip {
    int startFace, startEdge;
    bool toV1;
    int stripId, experimentId;
    std::vector<int> faces;
    int fakes = 0;
};

bool Degenerate(const Face& f) { return f.v0 == f.v1 || f.v1 == f.v2 || f.v0 == f.v2; }
bool Has(const Face& f, int v) { return f.v0 == v || f.v1 == v || f.v2 == v; }

struct Reference {
    std::vector<Face> faces;  // input faces, then every fake face ever made
    int realFaces = 0;
    std::vector<Edge> edges;
    std::vector<int> heads;
    float jump = 0.0f;
    bool firstReset = true;
    int nextStripId = 0, nextExperimentId = 0;

    int FindEdge(int a, int b) const
    {
        int e = heads[a];
        while (e != -1) {
            if (edges[e].v0 == a) {
                if (edges[e].v1 == b)
                    return e;
                e = edges[e].next0;
            } else {
                if (edges[e].v0 == b)
                    return e;
                e = edges[e].next1;
            }
        }
        return -1;
    }

    int OtherFace(int a, int b, int face) const
    {
        int e = FindEdge(a, b);
        if (e == -1)
            return -1;
        return edges[e].face0 == face ? edges[e].face1 : edges[e].face0;
    }

    void Build(const std::vector<uint16_t>& indices)
    {
        int largest = 0;
        for (uint16_t i : indices)
            largest = std::max(largest, int(i));
        heads.assign(largest + 1, -1);
        for (size_t t = 0; t + 3 <= indices.size(); t += 3) {
            Face f{indices[t], indices[t + 1], indices[t + 2]};
            if (Degenerate(f))
                continue;
            int id = int(faces.size());
            int v[3] = {f.v0, f.v1, f.v2};
            bool allExisted = true;
            std::vector<int> updated;
            for (int k = 0; k < 3; ++k) {
                int a = v[k], b = v[(k + 1) % 3];
                int e = FindEdge(a, b);
                if (e == -1) {
                    allExisted = false;
                    Edge edge{a, b};
                    edge.face0 = id;
                    edge.next0 = heads[a];
                    edge.next1 = heads[b];
                    edges.push_back(edge);
                    heads[a] = heads[b] = int(edges.size()) - 1;
                } else if (edges[e].face1 != -1) {
                    // message only; the face stays off this edge
                } else {
                    edges[e].face1 = id;
                    updated.push_back(e);
                }
            }
            bool duplicate = false;
            if (allExisted)
                for (const Face& o : faces)
                    if (o.v0 == f.v0 && o.v1 == f.v1 && o.v2 == f.v2)
                        duplicate = true;
            if (duplicate) {
                for (int e : updated)
                    edges[e].face1 = -1;
                continue;
            }
            faces.push_back(f);
        }
        realFaces = int(faces.size());
    }

    bool Marked(const Strip& s, int f) const
    {
        return faces[f].stripId >= 0 || (s.experimentId >= 0 && faces[f].experimentId == s.experimentId);
    }
    void Mark(const Strip& s, int f)
    {
        faces[f].testStripId = s.stripId;
        faces[f].experimentId = s.experimentId;
    }
    bool InStrip(const Strip& s, int f) const { return f >= 0 && faces[f].testStripId == s.stripId; }

    int NextIndex(const std::vector<int>& list, int f) const
    {
        int a = list[list.size() - 2], b = list[list.size() - 1];
        const Face& face = faces[f];
        if (face.v0 != a && face.v0 != b)
            return face.v0;
        if (face.v1 != a && face.v1 != b)
            return face.v1;
        return face.v2;
    }

    bool AllVerticesAmong(const std::vector<int>& gathered, int f) const
    {
        bool found[3] = {false, false, false};
        int v[3] = {faces[f].v0, faces[f].v1, faces[f].v2};
        for (int g : gathered)
            for (int k = 0; k < 3; ++k)
                if (Has(faces[g], v[k]))
                    found[k] = true;
        return found[0] && found[1] && found[2];
    }

    void Grow(Strip& s, std::vector<int>& list, std::vector<int>& out, std::vector<int>* gathered, int p, int q)
    {
        int from = s.startFace;
        int next = OtherFace(p, q, from);
        while (next != -1 && !Marked(s, next)) {
            if (gathered && AllVerticesAmong(*gathered, next))
                break;
            int n = NextIndex(list, next);
            int nn = OtherFace(q, n, next);
            int first = q;
            if (nn == -1 || Marked(s, nn)) {
                int alt = OtherFace(p, n, next);
                if (alt != -1 && !Marked(s, alt)) {
                    faces.push_back(Face{p, q, p});
                    out.push_back(int(faces.size()) - 1);
                    if (gathered)
                        gathered->push_back(int(faces.size()) - 1);
                    list.push_back(p);
                    ++s.fakes;
                    first = p;
                }
            }
            out.push_back(next);
            if (gathered)
                gathered->push_back(next);
            Mark(s, next);
            list.push_back(n);
            p = first;
            q = n;
            from = next;
            next = OtherFace(p, q, from);
        }
    }

    void BuildStrip(Strip& s)
    {
        const Edge& e = edges[s.startEdge];
        int a = s.toV1 ? e.v0 : e.v1, b = s.toV1 ? e.v1 : e.v0;
        std::vector<int> list{a, b};
        int c = NextIndex(list, s.startFace);
        list.push_back(c);
        std::vector<int> forward{s.startFace}, backward;
        Mark(s, s.startFace);
        Grow(s, list, forward, nullptr, b, c);
        std::vector<int> gathered = forward;
        list = {c, b, a};
        Grow(s, list, backward, &gathered, b, a);
        s.faces.assign(backward.rbegin(), backward.rend());
        s.faces.insert(s.faces.end(), forward.begin(), forward.end());
    }

    bool SharesEdge(const Strip& s, int f) const
    {
        int v[3] = {faces[f].v0, faces[f].v1, faces[f].v2};
        for (int k = 0; k < 3; ++k) {
            const Edge& e = edges[FindEdge(v[k], v[(k + 1) % 3])];
            if (InStrip(s, e.face0) || InStrip(s, e.face1))
                return true;
        }
        return false;
    }

    bool Traverse(const Strip& s, Strip& next) const
    {
        const Edge& start = edges[s.startEdge];
        int v = s.toV1 ? start.v1 : start.v0;
        for (int e = heads[v]; e != -1; e = edges[e].v0 == v ? edges[e].next0 : edges[e].next1) {
            const Edge& edge = edges[e];
            int face = -1;
            if (edge.face0 != -1 && !InStrip(s, edge.face0) && edge.face1 != -1 && !Marked(s, edge.face1))
                face = edge.face1;
            else if (edge.face1 != -1 && !InStrip(s, edge.face1) && edge.face0 != -1 && !Marked(s, edge.face0))
                face = edge.face0;
            if (face != -1) {
                next.startFace = face;
                next.startEdge = e;
                next.toV1 = SharesEdge(s, face) ? edge.v0 == v : edge.v1 == v;
                return true;
            }
        }
        return false;
    }

    int ResetFace()
    {
        int start = -1;
        if (firstReset) {
            firstReset = false;
            int best = 0;
            for (int i = 0; i < realFaces; ++i) {
                int count = (OtherFace(faces[i].v0, faces[i].v1, i) == -1) +
                            (OtherFace(faces[i].v1, faces[i].v2, i) == -1) +
                            (OtherFace(faces[i].v2, faces[i].v0, i) == -1);
                if (count > best) {
                    best = count;
                    start = i;
                }
            }
        }
        if (start == -1)
            start = int(float(realFaces - 1) * jump);
        int result = -1;
        int i = start;
        do {
            if (faces[i].stripId < 0) {
                result = i;
                break;
            }
            i = (i + 1) % realFaces;
        } while (i != start);
        jump += 0.1f;
        if (jump > 1.0f)
            jump = 0.05f;
        return result;
    }

    std::vector<Strip> Search()
    {
        std::vector<Strip> all;
        bool done = realFaces == 0;
        while (!done) {
            std::vector<std::vector<Strip>> experiments;
            std::vector<int> picked;
            for (int sample = 0; sample < 10; ++sample) {
                int f = ResetFace();
                if (f == -1) {
                    done = true;
                    break;
                }
                bool seen = false;
                for (int p : picked)
                    seen = seen || p == f;
                if (seen)
                    continue;
                picked.push_back(f);
                int v[3] = {faces[f].v0, faces[f].v1, faces[f].v2};
                for (int k = 0; k < 3; ++k)
                    for (bool toV1 : {true, false}) {
                        Strip s{f, FindEdge(v[k], v[(k + 1) % 3]), toV1, nextStripId++, nextExperimentId++, {}};
                        experiments.push_back({s});
                    }
            }
            for (std::vector<Strip>& experiment : experiments) {
                BuildStrip(experiment[0]);
                Strip next{};
                while (Traverse(experiment.back(), next)) {
                    next.stripId = nextStripId++;
                    next.experimentId = experiment[0].experimentId;
                    next.faces.clear();
                    next.fakes = 0;
                    experiment.push_back(next);
                    BuildStrip(experiment.back());
                }
            }
            if (experiments.empty())
                break;
            size_t best = 0;
            float bestValue = 0.0f;
            for (size_t i = 0; i < experiments.size(); ++i) {
                int size = 0;
                for (const Strip& s : experiments[i])
                    size += int(s.faces.size()) - s.fakes;
                float value = float(size) / float(experiments[i].size());
                if (value > bestValue) {
                    bestValue = value;
                    best = i;
                }
            }
            for (Strip& s : experiments[best]) {
                for (int f : s.faces)
                    faces[f].stripId = s.stripId;
                all.push_back(s);
            }
        }
        return all;
    }

    bool Deg(int f) const { return Degenerate(faces[f]); }

    std::vector<std::vector<int>> Cut(const std::vector<Strip>& strips, int limit) const
    {
        std::vector<std::vector<int>> pieces;
        for (const Strip& s : strips) {
            const std::vector<int>& f = s.faces;
            int actual = 0;
            for (int face : f)
                actual += !Deg(face);
            if (actual <= limit) {
                pieces.push_back(f);
                continue;
            }
            int times = actual / limit, left = actual % limit;
            int degenerates = 0;
            int j = 0;
            for (; j < times; ++j) {
                std::vector<int> piece;
                int ctr = j * limit + degenerates;
                bool firstTime = true;
                while (ctr < limit + j * limit + degenerates) {
                    if (Deg(f[ctr])) {
                        ++degenerates;
                        bool lastSlot = ctr + 1 == limit + j * limit + degenerates;
                        bool smallRest = j == times - 1 && left > 0 && left < 4;
                        if ((!lastSlot || smallRest) && !firstTime)
                            piece.push_back(f[ctr]);
                        ++ctr;
                    } else {
                        piece.push_back(f[ctr++]);
                        firstTime = false;
                    }
                }
                if (j == times - 1 && left > 0 && left < 4) {
                    int taken = 0;
                    while (taken < left) {
                        Deg(f[ctr]) ? ++degenerates : ++taken;
                        piece.push_back(f[ctr++]);
                    }
                    left = 0;
                }
                pieces.push_back(piece);
            }
            int at = j * limit + degenerates;
            if (left != 0) {
                std::vector<int> piece;
                int taken = 0;
                bool firstTime = true;
                while (taken < left) {
                    if (!Deg(f[at])) {
                        ++taken;
                        firstTime = false;
                        piece.push_back(f[at++]);
                    } else if (!firstTime) {
                        piece.push_back(f[at++]);
                    } else {
                        ++at;
                    }
                }
                pieces.push_back(piece);
            }
        }
        return pieces;
    }

    struct Cache {
        std::vector<int> entries;
        bool In(int v) const
        {
            for (int e : entries)
                if (e == v)
                    return true;
            return false;
        }
        void Add(int v)
        {
            if (In(v))
                return;
            for (size_t i = entries.size() - 1; i > 0; --i)
                entries[i] = entries[i - 1];
            entries[0] = v;
        }
        void AddFace(const Face& f)
        {
            Add(f.v0);
            Add(f.v1);
            Add(f.v2);
        }
        int Hits(const Face& f) const { return In(f.v0) + In(f.v1) + In(f.v2); }
    };

    bool FirstClockwise(const std::vector<int>& piece) const
    {
        const Face& first = faces[piece[0]];
        Face t = first;
        if (piece.size() > 1) {
            const Face& second = faces[piece[1]];
            int unique = !Has(second, t.v0) ? t.v0 : !Has(second, t.v1) ? t.v1 : !Has(second, t.v2) ? t.v2 : -1;
            if (unique == t.v1)
                std::swap(t.v0, t.v1);
            else if (unique == t.v2)
                std::swap(t.v0, t.v2);
            if (piece.size() > 2) {
                const Face& third = faces[piece[2]];
                int shared[2] = {-1, -1}, n = 0;
                for (int v : {t.v0, t.v1, t.v2})
                    if (Has(third, v) && n < 2)
                        shared[n++] = v;
                if (shared[0] == t.v1 && shared[1] == -1)
                    std::swap(t.v1, t.v2);
            }
        }
        if (first.v0 == t.v0)
            return first.v1 == t.v1;
        if (first.v1 == t.v0)
            return first.v2 == t.v1;
        return first.v0 == t.v1;
    }

    std::vector<uint16_t> Run(const std::vector<uint16_t>& indices, int cacheSize, unsigned minStripLength)
    {
        Build(indices);
        std::vector<Strip> strips = Search();
        int limit = std::max(1, cacheSize - 6);
        std::vector<std::vector<int>> pieces, kept;
        std::vector<int> loose;
        for (const std::vector<int>& piece : Cut(strips, limit)) {
            if (piece.size() >= minStripLength)
                kept.push_back(piece);
            else
                for (int f : piece)
                    if (!Deg(f))
                        loose.push_back(f);
        }

        std::vector<std::vector<int>> ordered;
        if (!kept.empty()) {
            size_t firstIndex = 0;
            float minCost = 10000.0f;
            for (size_t i = 0; i < kept.size(); ++i) {
                int neighbours = 0;
                for (int f : kept[i])
                    neighbours += (OtherFace(faces[f].v0, faces[f].v1, f) != -1) +
                                  (OtherFace(faces[f].v1, faces[f].v2, f) != -1) +
                                  (OtherFace(faces[f].v2, faces[f].v0, f) != -1);
                float cost = float(neighbours) / float(kept[i].size());
                if (cost < minCost) {
                    minCost = cost;
                    firstIndex = i;
                }
            }
            Cache cache{std::vector<int>(limit, -1)};
            std::vector<bool> visited(kept.size(), false);
            for (int f : kept[firstIndex])
                cache.AddFace(faces[f]);
            ordered.push_back(kept[firstIndex]);
            visited[firstIndex] = true;
            bool wantsClockwise = kept[firstIndex].size() % 2 == 0;
            for (;;) {
                float bestHits = -1.0f;
                size_t bestIndex = 0;
                for (size_t i = 0; i < kept.size(); ++i) {
                    if (visited[i])
                        continue;
                    int hits = 0;
                    for (int f : kept[i])
                        hits += cache.Hits(faces[f]);
                    float value = float(hits) / float(kept[i].size());
                    if (value > bestHits) {
                        bestHits = value;
                        bestIndex = i;
                    } else if (value >= bestHits && FirstClockwise(kept[i]) == wantsClockwise) {
                        bestIndex = i;
                    }
                }
                if (bestHits == -1.0f)
                    break;
                visited[bestIndex] = true;
                for (int f : kept[bestIndex])
                    cache.AddFace(faces[f]);
                ordered.push_back(kept[bestIndex]);
                if (kept[bestIndex].size() % 2 == 1)
                    wantsClockwise = !wantsClockwise;
            }
        }

        std::vector<int> looseOrdered;
        Cache cache{std::vector<int>(limit, -1)};
        std::vector<bool> used(loose.size(), false);
        for (;;) {
            int bestHits = -1;
            size_t bestIndex = 0;
            for (size_t i = 0; i < loose.size(); ++i)
                if (!used[i] && cache.Hits(faces[loose[i]]) > bestHits) {
                    bestHits = cache.Hits(faces[loose[i]]);
                    bestIndex = i;
                }
            if (bestHits == -1)
                break;
            used[bestIndex] = true;
            cache.AddFace(faces[loose[bestIndex]]);
            looseOrdered.push_back(loose[bestIndex]);
        }

        std::vector<uint16_t> out;
        for (const std::vector<int>& piece : ordered)
            for (int f : piece)
                if (!Deg(f))
                    out.insert(out.end(), {uint16_t(faces[f].v0), uint16_t(faces[f].v1), uint16_t(faces[f].v2)});
        for (int f : looseOrdered)
            out.insert(out.end(), {uint16_t(faces[f].v0), uint16_t(faces[f].v1), uint16_t(faces[f].v2)});
        return out;
    }
};

}  // namespace

std::vector<uint16_t> ReferenceOrder(const std::vector<uint16_t>& indices, int cacheSize, unsigned minStripLength)
{
    return Reference().Run(indices, cacheSize, minStripLength);
}
