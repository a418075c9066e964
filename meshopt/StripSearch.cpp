// Trial stripification: search passes of up to 60 experiments, each growing strips from one start face and edge
// and walking on to neighbouring strips; the experiment with the longest average strip is committed.
//
// The reset rule's jump runs through the same ten positions in every pass after the first, so a pass mostly
// repeats the experiments of the one before. An experiment's outcome depends on the rest of the mesh only through
// the faces it found not yet marked; as long as none of those has been committed since, running it again would
// give the same strips. Each experiment slot therefore keeps its last result and the set of faces it depends
// on (one bit per slot in a per-face mask), and a commit invalidates exactly the slots whose faces it took.
// Most re-runs are of samples whose start face a commit took, so nothing of their last run is of use.
//
// Within one sample, an experiment whose first strip holds the same faces as an earlier one's, with the walk to
// the next strip starting at the same vertex, grows the same strips after it: it can only tie, and a tie goes to
// the earlier experiment, so it stops after its first strip.
#include "StripifyInternal.h"

#include <algorithm>
#include <array>

namespace {

constexpr int samplesPerPass = 10;
constexpr int experimentsPerSample = 6;
constexpr int slotCount = samplesPerPass * experimentsPerSample;
static_assert(slotCount <= 64, "one dependency bit per slot");

struct TrialStrip {
    int32_t startFace, startEdge;
    bool forward;  // start edge taken from its first vertex to its second
    int32_t id;
    uint32_t begin = 0, end = 0;  // range in its experiment's reference list
    int32_t fakeCount = 0;
};

// What the search reads and writes of a face, in one record: its vertices, the faces across its edges (v0,v1),
// (v1,v2), (v2,v0), and its claim. Testing whether the face ahead is free then brings in the record that the
// next step of growth reads.
struct alignas(32) SearchFace {
    int32_t v[3];
    int32_t across[3];
    int32_t claim;
};

// A face's claim: the id of the trial strip that last took it, `unclaimed`, or `owned` once a committed strip holds
// it. Strip ids only grow and the running experiment numbers its strips last, so a face is claimed by the running
// experiment exactly when its claim is at least the id of that experiment's first strip.
constexpr int32_t unclaimed = -1;
constexpr int32_t owned = -2;
// Slot k of a face holds its edge (v[k], v[k+1]), the one opposite vertex k + 2; this is k + 1 without a division.
constexpr int nextSlot[3] = {1, 2, 0};

// Order-independent key of a set of faces; equal sets have equal keys.
struct FaceSetKey {
    uint64_t count = 0, sum = 0, squares = 0;

    void Add(int32_t face)
    {
        ++count;
        sum += uint64_t(face);
        squares += uint64_t(face) * uint64_t(face);
    }
    bool operator!=(const FaceSetKey& o) const { return count != o.count || sum != o.sum || squares != o.squares; }
};

// The last experiment run in one slot (sample i, start edge and direction j), with what it depends on.
struct ExperimentSlot {
    int32_t startFace = -1;
    float score = 0.0f;
    std::vector<TrialStrip> strips;
    std::vector<int32_t> refs;  // >= 0 a face, -1 - k fake face k of `fakes`
    std::vector<StripFace> fakes;
    std::vector<int32_t> dependencies;
    // Key of the first strip's face set, the vertex the walk to the second strip starts from, and whether the
    // slot repeats an earlier experiment of its sample (then it holds only its first strip).
    FaceSetKey firstStrip;
    int32_t walkVertex = -1;
    bool repeats = false;
};

class StripSearch {
public:
    explicit StripSearch(const StripifyInfo& info)
        : info_(info), edges_(info.edges), faces_(info.faces.size()), dependents_(info.faces.size(), 0),
          faceStamp_(info.faces.size(), 0), vertexStamp_(size_t(info.vertexCount), 0)
    {
        for (size_t i = 0; i < faces_.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                faces_[i].v[k] = info.faces[i].v[k];
                faces_[i].across[k] = info.neighbours[3 * i + k];
            }
            faces_[i].claim = unclaimed;
        }
        int32_t n = int32_t(faces_.size());
        nextUnowned_.resize(size_t(n) + 1);
        for (int32_t i = 0; i <= n; ++i)
            nextUnowned_[i] = i;
    }

    void Run(StripSet& out)
    {
        if (faces_.empty())
            return;
        bool done = false;
        while (!done) {
            passSlots_.clear();
            picked_.clear();
            for (int sample = 0; sample < samplesPerPass; ++sample) {
                int32_t face = FindResetFace();
                if (face < 0) {
                    done = true;
                    break;
                }
                if (std::find(picked_.begin(), picked_.end(), face) != picked_.end())
                    continue;
                picked_.push_back(face);
                size_t sampleBegin = passSlots_.size();
                for (int j = 0; j < experimentsPerSample; ++j) {
                    int slot = sample * experimentsPerSample + j;
                    ExperimentSlot& e = slots_[slot];
                    bool valid = e.startFace == face && !(invalid_ >> slot & 1);
                    // A repeat stays one only while an earlier experiment of the sample still has its first strip.
                    if (!valid || (e.repeats && !RepeatsEarlier(e, sampleBegin)))
                        RunExperiment(slot, face, info_.faceEdges[3 * size_t(face) + j / 2], j % 2 == 0,
                                      sampleBegin);
                    if (!e.repeats)
                        passSlots_.push_back(slot);
                }
            }
            if (passSlots_.empty())
                break;
            Commit(slots_[BestSlot()], out);
        }
    }

private:
    // Whether the face is marked for the running experiment, whose first strip has the id `experiment`; a face
    // found unmarked becomes a dependency of it.
    bool Marked(int32_t face, int32_t experiment)
    {
        int32_t claim = faces_[face].claim;
        if (claim == owned || claim >= experiment)
            return true;
        if (!(dependents_[face] & runningBit_)) {
            dependents_[face] |= runningBit_;
            running_->dependencies.push_back(face);
        }
        return false;
    }

    void Claim(int32_t face, const TrialStrip& s) { faces_[face].claim = s.id; }

    // The first unowned face at or after `from` in circular order, or -1.
    int32_t NextUnowned(int32_t from)
    {
        int32_t n = int32_t(faces_.size());
        auto find = [&](int32_t i) {
            int32_t root = i;
            while (nextUnowned_[root] != root)
                root = nextUnowned_[root];
            while (nextUnowned_[i] != root) {
                int32_t next = nextUnowned_[i];
                nextUnowned_[i] = root;
                i = next;
            }
            return root;
        };
        int32_t found = find(from);
        if (found == n)
            found = find(0);
        return found == n ? -1 : found;
    }

    int32_t FaceWithMostFreeEdges() const
    {
        int32_t best = -1, bestCount = 0;
        for (int32_t i = 0; i < int32_t(faces_.size()); ++i) {
            int32_t count = 0;
            for (int32_t across : faces_[i].across)
                count += across < 0;
            if (count > bestCount) {
                bestCount = count;
                best = i;
            }
        }
        return best;
    }

    int32_t FindResetFace()
    {
        int32_t n = int32_t(faces_.size());
        int32_t start = -1;
        if (firstReset_) {
            firstReset_ = false;
            start = FaceWithMostFreeEdges();
        }
        if (start < 0) {
            // The jump stays in single precision: its rounding decides the start faces and so the output order.
            start = int32_t(float(n - 1) * jump_);
            start = std::min(start, n - 1);
        }
        jump_ += 0.1f;
        if (jump_ > 1.0f)
            jump_ = 0.05f;
        return NextUnowned(start);
    }

    // Whether the slot's first strip holds the same faces as the first strip of an experiment of this sample
    // that is already in the pass, and the walk to the next strip starts at the same vertex. Every later strip
    // is then the same as well, so the slot would tie with that experiment and never win.
    bool RepeatsEarlier(const ExperimentSlot& e, size_t sampleBegin)
    {
        for (size_t k = sampleBegin; k < passSlots_.size(); ++k) {
            const ExperimentSlot& earlier = slots_[passSlots_[k]];
            if (earlier.walkVertex != e.walkVertex || earlier.firstStrip != e.firstStrip)
                continue;
            // Equal keys almost always mean equal sets; a face-by-face check makes sure.
            ++faceStampValue_;
            for (uint32_t r = 0; r < earlier.strips[0].end; ++r)
                if (earlier.refs[r] >= 0)
                    faceStamp_[earlier.refs[r]] = faceStampValue_;
            bool same = true;
            for (uint32_t r = 0; r < e.strips[0].end && same; ++r)
                same = e.refs[r] < 0 || faceStamp_[e.refs[r]] == faceStampValue_;
            if (same)
                return true;
        }
        return false;
    }

    // Runs the experiment of a slot; a repeat of an earlier one (see RepeatsEarlier) stops after its first strip.
    void RunExperiment(int slot, int32_t startFace, int32_t startEdge, bool forward, size_t sampleBegin)
    {
        ExperimentSlot& e = slots_[slot];
        runningBit_ = uint64_t(1) << slot;
        running_ = &e;
        for (int32_t face : e.dependencies)
            dependents_[face] &= ~runningBit_;
        invalid_ &= ~runningBit_;
        e.dependencies.clear();
        e.strips.clear();
        e.refs.clear();
        e.fakes.clear();
        e.startFace = startFace;

        int32_t id = nextStripId_;
        TrialStrip strip{startFace, startEdge, forward, nextStripId_++};
        BuildStrip(strip, id);
        e.strips.push_back(strip);
        e.walkVertex = WalkVertex(strip);
        e.firstStrip = FaceSetKey();
        for (uint32_t r = strip.begin; r < strip.end; ++r)
            if (e.refs[r] >= 0)
                e.firstStrip.Add(e.refs[r]);
        e.repeats = RepeatsEarlier(e, sampleBegin);
        if (e.repeats)
            return;
        int64_t length = int64_t(strip.end - strip.begin) - strip.fakeCount;
        while (FindTraversal(e.strips.back(), id, strip)) {
            strip.id = nextStripId_++;
            BuildStrip(strip, id);
            e.strips.push_back(strip);
            length += int64_t(strip.end - strip.begin) - strip.fakeCount;
        }
        // Average strip length without fake faces, in single precision.
        e.score = float(length) / float(e.strips.size());
    }

    int32_t NextIndex(const SearchFace& f, int32_t a, int32_t b) const
    {
        if (!FaceHas(f, a) || !FaceHas(f, b)) {
            OrderConsoleLine("GetNextIndex: Triangle doesn't have all of its vertices\n");
            OrderConsoleLine("GetNextIndex: Duplicate triangle probably got us derailed\n");
        }
        for (int32_t v : f.v)
            if (v != a && v != b)
                return v;
        return f.v[2];
    }

    // Grows from face `from` across (p, q) into `list`, claiming faces, until a missing or marked face; with
    // `stopAtWrap`, also before a face whose vertices all belong to faces gathered so far.
    void Grow(std::vector<int32_t>& list, TrialStrip& s, int32_t experiment, int32_t from, int32_t p, int32_t q,
              bool stopAtWrap)
    {
        int32_t next = OtherFace(info_, p, q, from);
        if (next >= 0 && Marked(next, experiment))
            return;
        // Every later `next` has just been found unmarked, as the face ahead or the swapped one.
        while (next >= 0) {
            const SearchFace& f = faces_[next];
            // `next` lies across (p, q), so it holds both; its third vertex n is the new one. The edge (q, n) is
            // the one opposite p, (p, n) the one opposite q; slot k holds the edge opposite vertex k + 2.
            int ip = f.v[0] == p ? 0 : f.v[1] == p ? 1 : 2;
            int iq = f.v[0] == q ? 0 : f.v[1] == q ? 1 : 2;
            int32_t n = f.v[3 - ip - iq];
            // p and q belong to the face grown from, so only n can be new to the gathered faces.
            if (stopAtWrap && vertexStamp_[n] == stamp_)
                break;
            int32_t ahead = f.across[nextSlot[ip]];
            int32_t following = -1;
            int32_t first = q;
            if (ahead >= 0 && !Marked(ahead, experiment)) {
                following = ahead;
            } else {
                int32_t swapped = f.across[nextSlot[iq]];
                if (swapped >= 0 && !Marked(swapped, experiment)) {
                    // A degenerate face flips the strip's parity so that it can turn towards the open side.
                    StripFace fake;
                    fake.v[0] = p;
                    fake.v[1] = q;
                    fake.v[2] = p;
                    list.push_back(-1 - int32_t(running_->fakes.size()));
                    running_->fakes.push_back(fake);
                    ++s.fakeCount;
                    first = p;
                    following = swapped;
                }
            }
            list.push_back(next);
            Claim(next, s);
            vertexStamp_[n] = stamp_;
            p = first;
            q = n;
            next = following;
        }
    }

    void BuildStrip(TrialStrip& s, int32_t experiment)
    {
        const StripEdge& edge = edges_[s.startEdge];
        int32_t a = s.forward ? edge.v0 : edge.v1;
        int32_t b = s.forward ? edge.v1 : edge.v0;
        const SearchFace& start = faces_[s.startFace];
        int32_t c = NextIndex(start, a, b);
        s.fakeCount = 0;

        ++stamp_;
        forward_.clear();
        backward_.clear();
        forward_.push_back(s.startFace);
        Claim(s.startFace, s);
        for (int32_t v : start.v)
            vertexStamp_[v] = stamp_;
        Grow(forward_, s, experiment, s.startFace, b, c, false);
        Grow(backward_, s, experiment, s.startFace, b, a, true);

        std::vector<int32_t>& refs = running_->refs;
        s.begin = uint32_t(refs.size());
        refs.insert(refs.end(), backward_.rbegin(), backward_.rend());
        refs.insert(refs.end(), forward_.begin(), forward_.end());
        s.end = uint32_t(refs.size());
    }

    bool InStrip(int32_t face, const TrialStrip& s) const { return faces_[face].claim == s.id; }

    // The vertex whose edges lead from the strip to the next one.
    int32_t WalkVertex(const TrialStrip& s) const
    {
        const StripEdge& startEdge = edges_[s.startEdge];
        return s.forward ? startEdge.v1 : startEdge.v0;
    }

    // Finds where the strip after `latest` starts; fills `next` (face, edge, direction) when there is one.
    bool FindTraversal(const TrialStrip& latest, int32_t experiment, TrialStrip& next)
    {
        int32_t v = WalkVertex(latest);
        // Walks v's edge chain; an edge with a single face cannot qualify, so only those with two are visited.
        for (uint32_t i = info_.sharedStart[v]; i < info_.sharedStart[v + 1]; ++i) {
            int32_t id = info_.sharedEdges[i];
            const StripEdge& e = edges_[id];
            int32_t face = -1;
            if (!InStrip(e.face0, latest) && !Marked(e.face1, experiment))
                face = e.face1;
            else if (!InStrip(e.face1, latest) && !Marked(e.face0, experiment))
                face = e.face0;
            if (face >= 0) {
                next.startFace = face;
                next.startEdge = id;
                next.forward = SharesEdge(face, latest) ? e.v0 == v : e.v1 == v;
                return true;
            }
        }
        return false;
    }

    bool SharesEdge(int32_t face, const TrialStrip& s) const
    {
        for (int k = 0; k < 3; ++k) {
            const StripEdge& e = edges_[info_.faceEdges[3 * size_t(face) + k]];
            if ((e.face0 >= 0 && InStrip(e.face0, s)) || (e.face1 >= 0 && InStrip(e.face1, s)))
                return true;
        }
        return false;
    }

    // The slot of this pass with the highest score; the first of equal scores wins.
    int BestSlot() const
    {
        int best = passSlots_[0];
        float bestValue = 0.0f;
        for (int slot : passSlots_)
            if (slots_[slot].score > bestValue) {
                bestValue = slots_[slot].score;
                best = slot;
            }
        return best;
    }

    void Commit(const ExperimentSlot& e, StripSet& out)
    {
        int32_t fakeBase = int32_t(out.fakes.size());
        for (const TrialStrip& strip : e.strips) {
            StripRange range;
            range.begin = uint32_t(out.refs.size());
            for (uint32_t r = strip.begin; r < strip.end; ++r) {
                int32_t ref = e.refs[r];
                if (ref >= 0) {
                    faces_[ref].claim = owned;
                    nextUnowned_[ref] = ref + 1;
                    invalid_ |= dependents_[ref];
                    out.refs.push_back(ref);
                } else {
                    out.refs.push_back(ref - fakeBase);
                }
            }
            range.end = uint32_t(out.refs.size());
            out.strips.push_back(range);
        }
        out.fakes.insert(out.fakes.end(), e.fakes.begin(), e.fakes.end());
    }

    const StripifyInfo& info_;
    const ScratchVector<StripEdge>& edges_;
    std::vector<SearchFace> faces_;

    std::array<ExperimentSlot, slotCount> slots_;
    std::vector<int> passSlots_;  // the slots of the current pass, in experiment order
    std::vector<uint64_t> dependents_;  // per face, the slots that depend on it
    uint64_t invalid_ = 0;  // slots whose dependencies were committed since they ran
    uint64_t runningBit_ = 0;
    ExperimentSlot* running_ = nullptr;
    std::vector<int32_t> picked_;
    std::vector<int32_t> forward_, backward_;
    std::vector<uint32_t> faceStamp_;
    uint32_t faceStampValue_ = 0;

    std::vector<uint32_t> vertexStamp_;
    uint32_t stamp_ = 0;
    std::vector<int32_t> nextUnowned_;
    float jump_ = 0.0f;
    bool firstReset_ = true;
    int32_t nextStripId_ = 0;
};

} // namespace

void FindAllStrips(const StripifyInfo& info, StripSet& out)
{
    out.strips.clear();
    out.refs.clear();
    out.fakes.clear();
    StripSearch(info).Run(out);
}
