// Trial stripification: search passes of up to 60 experiments, each growing strips from one start face and edge
// and walking on to neighbouring strips; the experiment with the longest average strip is committed.
//
// The reset rule's jump runs through the same ten positions in every pass after the first, so a pass mostly
// repeats the experiments of the one before. An experiment's outcome depends on the rest of the mesh only through
// the faces it found not yet marked: the faces it claimed and the faces before which a backward growth stopped at
// a wrap. As long as none of those has been committed since, running it again would give the same strips. Each
// experiment slot therefore keeps its last result and the set of faces it depends on (one bit per slot in a
// per-face mask, set as growth takes each face), and a commit invalidates exactly the slots whose faces it took.
// Most re-runs are of samples whose start face a commit took, so nothing of their last run is of use; a slot
// invalidated by a commit has always lost part of its first strip, so no prefix of its last run is of use either.
// Keeping every grown strip to copy it when a later experiment starts a strip the same way with the same marks
// around it matched a fifth of the grown faces on a regular grid and less on levels, and cost more than it saved.
//
// Within one sample, an experiment whose first strip holds the same faces as an earlier one's, with the walk to
// the next strip starting at the same vertex, grows the same strips after it: it can only tie, and a tie goes to
// the earlier experiment, so it stops after its first strip.
//
// Growth itself is a walk along a table of states (below): each step waits for the record of the face ahead, so
// the records are kept small and the step does no more than it must.
#include "StripifyInternal.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr int samplesPerPass = 10;
constexpr int experimentsPerSample = 6;
constexpr int slotCount = samplesPerPass * experimentsPerSample;
static_assert(slotCount <= 64, "one dependency bit per slot");

// Slot k of a face holds its edge (v[k], v[k+1]), the one opposite vertex k + 2; these are k + 1 and k + 2
// without a division.
constexpr int nextSlot[3] = {1, 2, 0};
constexpr int prevSlot[3] = {2, 0, 1};

struct TrialStrip {
    int32_t startFace, startEdge;
    bool forward;  // start edge taken from its first vertex to its second
    int32_t id;
    // Range in its experiment's reference list: the forward faces (start face first) in [begin, middle), then the
    // backward faces in the order found in [middle, end). The strip runs backward faces reversed, then forward.
    uint32_t begin = 0, middle = 0, end = 0;
    int32_t fakeCount = 0;
};

// A face's claim: the id of the trial strip that last took it, `unclaimed`, or `owned` once a committed strip holds
// it. Strip ids only grow and the running experiment numbers its strips last, so a face is marked for the running
// experiment exactly when its claim is at least the id of that experiment's first strip: `owned` is above every id.
constexpr int32_t unclaimed = -1;
constexpr int32_t owned = INT32_MAX;

// Growth enters a face through one of its edges (the one that holds the strip's last two vertices p and q, q the
// newer) and leaves it across (q, n), n its third vertex, or, with a fake face, across (p, n). Which edge that is
// depends only on the slot entered through and on whether q is that edge's second vertex in the face's order, so
// a face has six ways of being entered, numbered slot * 2 + (q second). A growth state is face * 8 + way, and a
// table gives for every state the state in which growth enters the face ahead: a step is one load and compares
// no vertices. Leaving across (p, n) instead enters the face ahead of the same face entered the other way round,
// the state with the low bit flipped. A missing face is the sentinel face after the last one, always owned, so
// that "missing" and "marked" are one test.
constexpr int statesPerFace = 8;
// Faces this close in order are near enough for a 16-bit step between their states.
constexpr int64_t nearFaces = INT16_MAX / statesPerFace - 1;
// The face of a state; states are never negative, so a shift does.
template <class State>
int32_t FaceOf(State state)
{
    return int32_t(state >> 3);
}

// The states that the six ways of entering face i lead to, or the sentinel's.
template <class State>
inline void Successors(const StripifyInfo& info, int32_t i, State* out)
{
    const State sentinel = State(info.faces.size()) * statesPerFace;
    const StripFace& f = info.faces[i];
    for (int k = 0; k < 3; ++k) {
        // Leaving across slot k with the new vertex second (high) or first (low) in the edge's order here.
        int32_t other = info.neighbours[3 * size_t(i) + k];
        // The face across holds the same edge record in one of its slots. Across a border the result is replaced
        // by the sentinel, which spares a branch.
        int32_t across = other >= 0 ? other : i;
        const int32_t* acrossEdges = &info.faceEdges[3 * size_t(across)];
        int32_t edge = info.faceEdges[3 * size_t(i) + k];
        int u = int(acrossEdges[1] == edge) + 2 * int(acrossEdges[2] == edge);
        bool same = info.faces[across].v[u] == f.v[k];
        State base = State(other) * statesPerFace + State(2 * u);
        State high = other >= 0 ? base + State(same) : sentinel;
        State low = other >= 0 ? base + State(!same) : sentinel;
        // Entered through slot s, growth leaves across slot s + 1 when q is second (n then second there too), across
        // slot s + 2 when q is first (n then first).
        out[2 * prevSlot[k] + 1] = high;
        out[2 * nextSlot[k]] = low;
    }
}

// Requests what Successors reads of the faces across face i, if there is one, into the caches: tables are built
// in face order, and the faces across are often not cached on large meshes.
inline void RequestAcross(const StripifyInfo& info, size_t i)
{
    if (i >= info.faces.size())
        return;
    for (int k = 0; k < 3; ++k) {
        int32_t other = info.neighbours[3 * i + k];
        if (other >= 0) {
            __builtin_prefetch(&info.faceEdges[3 * size_t(other)]);
            __builtin_prefetch(&info.faces[size_t(other)]);
        }
    }
}

// Successors and claims in one record per face, so that testing whether the face ahead is free brings in what the
// next step reads. A successor is stored as its distance from the state, in 16 bits: the records of a mesh whose
// neighbouring faces lie close together in its order take 16 bytes a face, which keeps the search's hottest data
// in the processor's caches on meshes of a few hundred thousand faces. The few successors too far away are looked up
// in a sorted list.
class NearTable {
public:
    using State = int32_t;
    struct Record {
        int16_t step[6];
        int32_t claim;
    };
    static_assert(sizeof(Record) == 2 * statesPerFace, "a state's step at twice its number in bytes");

    // Every field of every record is written here, so the records are not initialised first.
    explicit NearTable(const StripifyInfo& info) : records_(info.faces.size() + 1, info.scratch)
    {
        int32_t faceCount = int32_t(info.faces.size());
        State successors[6];
        for (int32_t i = 0; i <= faceCount; ++i) {
            RequestAcross(info, i + 8);
            if (i < faceCount)
                Successors(info, i, successors);
            else
                std::fill(successors, successors + 6, State(i) * statesPerFace);
            for (int way = 0; way < 6; ++way) {
                int64_t step = int64_t(successors[way]) - (int64_t(i) * statesPerFace + way);
                if (step > INT16_MIN && step <= INT16_MAX) {
                    records_[i].step[way] = int16_t(step);
                } else {
                    far_.push_back({State(i) * statesPerFace + way, successors[way]});
                    records_[i].step[way] = farStep;
                }
            }
            records_[i].claim = i < faceCount ? unclaimed : owned;
        }
    }
    State Next(State state) const
    {
        // The steps of consecutive states lie two bytes apart.
        int16_t step;
        std::memcpy(&step, reinterpret_cast<const char*>(records_.get()) + 2 * size_t(state), sizeof step);
        return step != farStep ? state + step : FarSuccessor(state);
    }
    int32_t& Claim(int32_t face) { return records_[size_t(face)].claim; }
    int32_t Claim(int32_t face) const { return records_[size_t(face)].claim; }

    // The table as a growth loop uses it: plain pointers that the compiler keeps in registers through a loop that
    // stores claims, where it reloads the members of objects.
    class Walker {
    public:
        explicit Walker(NearTable& table) : table_(table), records_(table.records_.get()) {}
        State Next(State state) const
        {
            int16_t step;
            std::memcpy(&step, reinterpret_cast<const char*>(records_) + 2 * size_t(state), sizeof step);
            return step != farStep ? state + step : table_.FarSuccessor(state);
        }
        int32_t& Claim(int32_t face) const { return records_[size_t(face)].claim; }
        // Requests the record of a face into the caches. A guess outside the table costs a wasted request: a
        // prefetch never faults, and the address is formed without pointer arithmetic.
        void Prefetch(int64_t face) const
        {
            __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(records_) +
                                                             uintptr_t(face) * sizeof(Record)));
        }

    private:
        const NearTable& table_;
        Record* records_;
    };
    Walker Walk() { return Walker(*this); }

private:
    static constexpr int16_t farStep = INT16_MIN;
    // Out of line: rare, and the growth loop keeps its registers.
    __attribute__((noinline)) State FarSuccessor(State state) const
    {
        // Far steps are added in the order of their states.
        auto far =
            std::lower_bound(far_.begin(), far_.end(), state, [](const FarStep& f, State s) { return f.state < s; });
        return far->successor;
    }

    ScratchArray<Record> records_;  // one more than there are faces: the sentinel
    struct FarStep {
        State state, successor;
    };
    std::vector<FarStep> far_;
};

// The same with successors in full, eight entries a face (six successors, one unused, the claim): for meshes whose
// neighbouring faces lie far apart in their order, and for meshes with more faces than 32-bit states can number.
// A state's successor is the state's own entry.
template <class StateType>
class FullTable {
public:
    using State = StateType;

    FullTable(const StripifyInfo& info, bool guessAhead)
        : guessAhead_(guessAhead), entries_((info.faces.size() + 1) * statesPerFace, info.scratch)
    {
        int32_t faceCount = int32_t(info.faces.size());
        for (int32_t i = 0; i <= faceCount; ++i) {
            State* e = entries_.get() + size_t(i) * statesPerFace;
            RequestAcross(info, i + 8);
            if (i < faceCount)
                Successors(info, i, e);
            else
                std::fill(e, e + 6, State(i) * statesPerFace);
            e[6] = 0;
            e[claimEntry] = i < faceCount ? unclaimed : owned;
        }
    }
    State Next(State state) const { return entries_[size_t(state)]; }
    State& Claim(int32_t face) { return entries_[size_t(face) * statesPerFace + claimEntry]; }
    State Claim(int32_t face) const { return entries_[size_t(face) * statesPerFace + claimEntry]; }

    class Walker {
    public:
        explicit Walker(FullTable& table) : entries_(table.entries_.get()), guessAhead_(table.guessAhead_) {}
        State Next(State state) const { return entries_[size_t(state)]; }
        State& Claim(int32_t face) const { return entries_[size_t(face) * statesPerFace + claimEntry]; }
        void Prefetch(int64_t face) const
        {
            if (guessAhead_)
                __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(entries_) +
                                                                 uintptr_t(face) * statesPerFace * sizeof(State)));
        }

    private:
        State* entries_;
        bool guessAhead_;
    };
    Walker Walk() { return Walker(*this); }

private:
    static constexpr int claimEntry = 7;
    // Whether guessing the face a few steps ahead pays: not on meshes in scattered order, where the guesses only
    // take bandwidth.
    bool guessAhead_;
    // Aligned, so that each face's entries lie in one cache line (two for 64-bit states).
    ScratchArray<State> entries_;
};

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

// An experiment's references. Growth writes them through a plain pointer into room made ahead, which the compiler
// can keep in a register while growth stores claims, and which is not initialised first.
class RefList {
public:
    explicit RefList(OrderScratch& scratch) : data_(scratch) {}
    size_t size() const { return size_; }
    void clear() { size_ = 0; }
    int32_t operator[](size_t i) const { return data_[i]; }
    const int32_t* begin() const { return data_.get(); }
    const int32_t* end() const { return data_.get() + size_; }
    void push_back(int32_t ref)
    {
        *Room(1) = ref;
        ++size_;
    }
    // Room for at least `count` references after the last; those written there count once Written is told.
    int32_t* Room(size_t count)
    {
        if (capacity_ - size_ < count) {
            size_t capacity = std::max(2 * capacity_, size_ + count + 64);
            ScratchArray<int32_t> data(capacity, data_.Scratch());
            std::copy(begin(), end(), data.get());
            data_ = std::move(data);
            capacity_ = capacity;
        }
        return data_.get() + size_;
    }
    size_t Spare() const { return capacity_ - size_; }
    void Written(const int32_t* last) { size_ = size_t(last - data_.get()); }

private:
    ScratchArray<int32_t> data_;
    size_t size_ = 0, capacity_ = 0;
};

// The last experiment run in one slot (sample i, start edge and direction j), with what it depends on.
struct ExperimentSlot {
    explicit ExperimentSlot(OrderScratch& scratch) : refs(scratch) {}

    int32_t startFace = -1;
    float score = 0.0f;
    std::vector<TrialStrip> strips;
    RefList refs;  // >= 0 a face, -1 - k fake face k of `fakes`
    std::vector<StripFace> fakes;
    // The faces the experiment found unmarked are those it claimed, all in `refs`, and the faces before which a
    // backward growth stopped because their vertices were all gathered already: those are kept here.
    std::vector<int32_t> wrapStops;
    // Key of the first strip's face set, the vertex the walk to the second strip starts from, and whether the
    // slot repeats an earlier experiment of its sample (then it holds only its first strip).
    FaceSetKey firstStrip;
    int32_t walkVertex = -1;
    bool repeats = false;
};

template <class Table>
class StripSearch {
    using State = typename Table::State;

public:
    template <class... TableArgs>
    explicit StripSearch(const StripifyInfo& info, TableArgs... tableArgs)
        : info_(info),
          edges_(info.edges),
          faceCount_(int32_t(info.faces.size())),
          table_(info, tableArgs...),
          dependents_(info.faces.size(), 0, info.scratch),
          faceStamp_(info.faces.size(), 0, info.scratch),
          vertexStamp_(info.sharedStart.size() - 1, 0, info.scratch),
          nextUnowned_(info.scratch)
    {
        slots_.reserve(slotCount);
        for (int slot = 0; slot < slotCount; ++slot)
            slots_.emplace_back(info.scratch);
        nextUnowned_.resize(size_t(faceCount_) + 1);
        for (int32_t i = 0; i <= faceCount_; ++i)
            nextUnowned_[i] = i;
    }

    void Run(StripSet& out)
    {
        if (faceCount_ == 0)
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
                        RunExperiment(slot, face, info_.faceEdges[3 * size_t(face) + j / 2], j % 2 == 0, sampleBegin);
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
    // Whether the face is marked for the running experiment, whose first strip has the id `experiment`.
    bool Marked(int32_t face, int32_t experiment) const { return table_.Claim(face) >= experiment; }

    // The first unowned face at or after `from` in circular order, or -1.
    int32_t NextUnowned(int32_t from)
    {
        int32_t n = faceCount_;
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
        for (int32_t i = 0; i < faceCount_; ++i) {
            int32_t count = 0;
            for (int k = 0; k < 3; ++k)
                count += info_.neighbours[3 * size_t(i) + k] < 0;
            if (count > bestCount) {
                bestCount = count;
                best = i;
            }
        }
        return best;
    }

    int32_t FindResetFace()
    {
        int32_t n = faceCount_;
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
        uint64_t bit = uint64_t(1) << slot;
        ForgetDependencies(e, bit);
        invalid_ &= ~bit;
        runningBit_ = bit;
        running_ = &e;
        e.strips.clear();
        e.refs.clear();
        // Room for as many references as the longest run so far, at once: lists that grew by doubling while
        // experiments ran left the heap so scattered that it was handed back to the system after every call and
        // the next call's stages took page faults all over again (level batches of a million triangles lost a
        // tenth of their time to it).
        e.refs.Room(longestRun_);
        e.fakes.clear();
        e.wrapStops.clear();
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
        if (!e.repeats) {
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
        longestRun_ = std::max(longestRun_, e.refs.size());
    }

    // The slot depends on every face its last run found unmarked: the faces it claimed, all in its references, and
    // the faces before which a backward growth stopped. Growth records each as it takes it, with one
    // unconditional store that no step waits for.
    void ForgetDependencies(const ExperimentSlot& e, uint64_t bit)
    {
        for (int32_t ref : e.refs)
            if (ref >= 0)
                dependents_[ref] &= ~bit;
        for (int32_t face : e.wrapStops)
            dependents_[face] &= ~bit;
    }

    int32_t NextIndex(const StripFace& f, int32_t a, int32_t b) const
    {
        if (!FaceHas(f, a) || !FaceHas(f, b)) {
            info_.console.Add(
                "GetNextIndex: Triangle doesn't have all of its vertices\n"
                "GetNextIndex: Duplicate triangle probably got us derailed\n");
        }
        for (int32_t v : f.v)
            if (v != a && v != b)
                return v;
        return f.v[2];
    }

    // The state in which growth enters the face across the edge (p, q) of face `from`, q the newer vertex.
    State Enter(int32_t from, int32_t p, int32_t q) const
    {
        const StripFace& f = info_.faces[from];
        for (int k = 0; k < 3; ++k) {
            int32_t x = f.v[k], y = f.v[nextSlot[k]];
            if ((x == p && y == q) || (x == q && y == p)) {
                bool high = y == q;
                return table_.Next(State(from) * statesPerFace + 2 * (high ? prevSlot[k] : nextSlot[k]) + high);
            }
        }
        return State(faceCount_) * statesPerFace;
    }

    // Grows from the face entered in `state` into the running experiment's references, claiming faces, until a
    // missing or marked face; growing backward, also before a face whose vertices all belong to faces gathered so
    // far.
    template <bool backward>
    void Grow(TrialStrip& s, int32_t experiment, State state)
    {
        int32_t face = FaceOf(state);
        if (Marked(face, experiment))
            return;
        RefList& refs = running_->refs;
        if (backward) {
            // The forward growth leaves the stamping of its vertices to the backward growth that needs them.
            for (uint32_t r = s.begin + 1; r < uint32_t(refs.size()); ++r)
                if (refs[r] >= 0)
                    for (int32_t v : info_.faces[refs[r]].v)
                        vertexStamp_[v] = stamp_;
        }
        const int32_t id = s.id;
        const uint64_t bit = runningBit_;
        uint64_t* dependents = dependents_.data();
        const StripFace* faces = info_.faces.data();
        uint32_t* vertexStamps = vertexStamp_.data();
        const uint32_t stamp = stamp_;
        const typename Table::Walker walk = table_.Walk();
        int32_t previous = face;  // the face before `face`
        // A step writes two references at most.
        int32_t* out = refs.Room(64);
        int32_t* room = out + refs.Spare() - 2;
        // Every later face has just been found unmarked, as the face ahead or the swapped one.
        for (;;) {
            if (backward) {
                // The face holds p and q in the slot entered through; its third vertex n is the new one. p and q
                // belong to the face grown from, so only n can be new to the gathered faces.
                int32_t n = faces[face].v[prevSlot[int(state >> 1) & 3]];
                if (vertexStamps[n] == stamp) {
                    running_->wrapStops.push_back(face);
                    dependents[face] |= bit;
                    break;
                }
                vertexStamps[n] = stamp;
            }
            State next = walk.Next(state);
            int32_t ahead = FaceOf(next);
            // Each step waits for the record of the face ahead. On regular meshes a strip's faces advance by two
            // alternating distances, so the face four steps on is guessed from the last two distances and its
            // record requested early; on other meshes the guess costs one wasted request.
            walk.Prefetch(3 * int64_t(ahead) - 2 * int64_t(previous));
            previous = face;
            if (walk.Claim(ahead) >= experiment) {
                State swapped = walk.Next(state ^ 1);
                if (walk.Claim(FaceOf(swapped)) >= experiment) {
                    *out++ = face;
                    walk.Claim(face) = id;
                    dependents[face] |= bit;
                    break;
                }
                AddFake(s, face, state, out);
                next = swapped;
            }
            *out++ = face;
            walk.Claim(face) = id;
            dependents[face] |= bit;
            state = next;
            face = FaceOf(state);
            if (out >= room) {
                refs.Written(out);
                out = refs.Room(refs.Spare() + refs.size());
                room = out + refs.Spare() - 2;
            }
        }
        refs.Written(out);
    }

    // A degenerate face (p, q, p) before the face entered in `state` flips the strip's parity so that it can turn
    // towards the open side.
    void AddFake(TrialStrip& s, int32_t face, State state, int32_t*& out)
    {
        const int32_t* v = info_.faces[face].v;
        int slot = int(state >> 1) & 3;
        bool qHigh = state & 1;
        StripFace fake;
        fake.v[0] = qHigh ? v[slot] : v[nextSlot[slot]];
        fake.v[1] = qHigh ? v[nextSlot[slot]] : v[slot];
        fake.v[2] = fake.v[0];
        *out++ = -1 - int32_t(running_->fakes.size());
        running_->fakes.push_back(fake);
        ++s.fakeCount;
    }

    void BuildStrip(TrialStrip& s, int32_t experiment)
    {
        const StripEdge& edge = edges_[s.startEdge];
        int32_t a = s.forward ? edge.v0 : edge.v1;
        int32_t b = s.forward ? edge.v1 : edge.v0;
        const StripFace& start = info_.faces[s.startFace];
        int32_t c = NextIndex(start, a, b);
        s.fakeCount = 0;

        ++stamp_;
        RefList& refs = running_->refs;
        s.begin = uint32_t(refs.size());
        refs.push_back(s.startFace);
        dependents_[s.startFace] |= runningBit_;
        table_.Claim(s.startFace) = s.id;
        for (int32_t v : start.v)
            vertexStamp_[v] = stamp_;
        Grow<false>(s, experiment, Enter(s.startFace, b, c));
        s.middle = uint32_t(refs.size());
        Grow<true>(s, experiment, Enter(s.startFace, b, a));
        s.end = uint32_t(refs.size());
    }

    bool InStrip(int32_t face, const TrialStrip& s) const { return table_.Claim(face) == s.id; }

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
        auto add = [&](int32_t ref) {
            if (ref >= 0) {
                table_.Claim(ref) = owned;
                nextUnowned_[ref] = ref + 1;
                invalid_ |= dependents_[ref];
                out.refs.push_back(ref);
            } else {
                out.refs.push_back(ref - fakeBase);
            }
        };
        for (const TrialStrip& strip : e.strips) {
            StripRange range;
            range.begin = uint32_t(out.refs.size());
            for (uint32_t r = strip.end; r > strip.middle; --r)
                add(e.refs[r - 1]);
            for (uint32_t r = strip.begin; r < strip.middle; ++r)
                add(e.refs[r]);
            range.end = uint32_t(out.refs.size());
            out.strips.push_back(range);
        }
        out.fakes.insert(out.fakes.end(), e.fakes.begin(), e.fakes.end());
    }

    const StripifyInfo& info_;
    const ScratchVector<StripEdge>& edges_;
    int32_t faceCount_;
    Table table_;

    std::vector<ExperimentSlot> slots_;   // slotCount of them
    std::vector<int> passSlots_;          // the slots of the current pass, in experiment order
    ScratchVector<uint64_t> dependents_;  // per face, the slots that depend on it
    uint64_t invalid_ = 0;                // slots whose dependencies were committed since they ran
    uint64_t runningBit_ = 0;             // the running experiment's slot
    size_t longestRun_ = 0;               // references of the longest experiment run so far
    ExperimentSlot* running_ = nullptr;
    std::vector<int32_t> picked_;
    ScratchVector<uint32_t> faceStamp_;
    uint32_t faceStampValue_ = 0;

    ScratchVector<uint32_t> vertexStamp_;
    uint32_t stamp_ = 0;
    ScratchVector<int32_t> nextUnowned_;
    float jump_ = 0.0f;
    bool firstReset_ = true;
    int32_t nextStripId_ = 0;
};

}  // namespace

void FindAllStrips(const StripifyInfo& info, StripSet& out)
{
    out.strips.clear();
    out.refs.clear();
    out.fakes.clear();
    // Most steps of the near table would be looked up on meshes in scattered order (as in a shuffled list), and
    // guesses of the face a few steps ahead would only take bandwidth there.
    size_t far = 0;
    for (size_t i = 0; i < info.neighbours.size(); ++i) {
        int64_t distance = int64_t(info.neighbours[i]) - int64_t(i / 3);
        far += info.neighbours[i] >= 0 && (distance < -nearFaces || distance > nearFaces);
    }
    bool scattered = far * 16 > info.neighbours.size();
    // A state numbers a face's entries from face * 8; there is one more face, the sentinel.
    if (info.faces.size() >= (size_t(1) << 28) - 1)
        StripSearch<FullTable<int64_t>>(info, !scattered).Run(out);
    else if (!scattered)
        StripSearch<NearTable>(info).Run(out);
    else
        StripSearch<FullTable<int32_t>>(info, false).Run(out);
}
