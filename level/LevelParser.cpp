// The level grammar. Records are stored by their actions the moment they match; repetitions are greedy and give
// back a failed attempt, so a name has no reserved words and a section ends where its next record cannot start.
//
// The text is cut, as it arrives, into pieces that are parsed at once. A cut is only a guess at a leaf boundary; a
// piece counts only when the parse before it ended exactly on its start, about to try a leaf: the one state in which
// every piece but the first begins. The grammar holds nothing else across a leaf boundary, so from there the piece
// reads exactly what a single pass would, and the pieces that count, joined, are that pass.

#include "Level.h"
#include "Console.h"
#include "LevelReal.h"

#include <boost/spirit/include/classic_core.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <utility>

namespace sc = boost::spirit::classic;

namespace {

bool IsLevelSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Any byte a name may hold: everything but white space and the vertical bar.
struct NameCharParser : sc::char_parser<NameCharParser> {
    bool test(char c) const { return !IsLevelSpace(c) && c != '|'; }
};

// Skips white space before every token and after every matched character, and remembers the furthest point where
// a token was tried, which is where a mismatch is reported. Skipping here, inline, instead of through a skip
// parser saves a second, empty skip parse and a scanner copy per token.
struct LevelIterationPolicy : sc::skipper_iteration_policy<> {
    explicit LevelIterationPolicy(const char*& furthest) : furthest(&furthest) {}

    template <typename PolicyT>
    LevelIterationPolicy(const PolicyT& other) : sc::skipper_iteration_policy<>(other), furthest(other.furthest)
    {
    }

    template <typename ScannerT>
    void skip(const ScannerT& scan) const
    {
        while (scan.first != scan.last && IsLevelSpace(*scan.first)) {
            ++scan.first;
        }
        if (scan.first > *furthest) {
            *furthest = scan.first;
        }
    }

    const char** furthest;
};

// A real token with the float of its text as attribute.
struct RealParser : sc::parser<RealParser> {
    template <typename ScannerT>
    struct result {
        typedef typename sc::match_result<ScannerT, float>::type type;
    };

    template <typename ScannerT>
    typename sc::parser_result<RealParser, ScannerT>::type parse(const ScannerT& scan) const
    {
        scan.skip(scan);
        const char* start = scan.first;
        float value = 0.0f;
        const char* end = ReadLevelReal(start, scan.last, value);
        if (end == nullptr) {
            return scan.no_match();
        }
        scan.first = end;
        return scan.create_match(std::size_t(end - start), value, start, end);
    }
};

const RealParser levelReal = RealParser();

typedef sc::scanner_policies<LevelIterationPolicy> ScannerPolicies;
typedef sc::scanner<const char*, ScannerPolicies> Scanner;
typedef sc::rule<Scanner> Rule;

// The texture names of one piece in order of first use. The texture source is left alone while pieces are parsed (it
// may print and make GL calls): a triangle holds its name's index here in its diffuse texture field until the names
// have been loaded, once each, on the calling thread.
struct PieceTextureNames {
    std::vector<std::string> names;
    std::unordered_map<std::string, uint32_t> indices;
    uint32_t last = 0;

    uint32_t IndexOf(const std::string& name)
    {
        // Neighbouring triangles mostly share a texture.
        if (!names.empty() && names[last] == name) {
            return last;
        }
        const auto found = indices.emplace(name, uint32_t(names.size()));
        if (found.second) {
            names.push_back(name);
        }
        last = found.first->second;
        return last;
    }
};

struct Sinks {
    LevelParseState& state;
    std::vector<Light>& lights;
    std::vector<BoundingBox>& boxes;
    PieceTextureNames& names;
};

auto Vector(Vec3& target)
{
    return levelReal[([&target](float x) { target.x = x; })] >> levelReal[([&target](float y) { target.y = y; })] >>
           levelReal[([&target](float z) { target.z = z; })];
}

auto Real(float& target)
{
    return levelReal[([&target](float value) { target = value; })];
}

auto ChildReference(bool& isLeaf, int32_t& index)
{
    return (sc::ch_p('L')[([&isLeaf](char) { isLeaf = true; })] |
            sc::ch_p('N')[([&isLeaf](char) { isLeaf = false; })]) >>
           sc::int_p[([&index](int value) { index = value; })];
}

// The file is header, leaves, nodes: "BSP" "BBOXES" +box "ENTITIES" +light, then +leaf, then +node. ParseRecords
// runs the leaf repetition itself, so that it can stop on a piece's start.
struct LevelGrammar {
    explicit LevelGrammar(const Sinks& sinks)
    {
        LevelParseState& state = sinks.state;

        // No white space inside a name: it runs to the first white-space byte or vertical bar.
        name = sc::lexeme_d[+NameCharParser()];

        box = (sc::ch_p('(') >> Vector(state.boxScratch.firstCorner) >> ')' >> '(' >>
               Vector(state.boxScratch.secondCorner) >>
               ')')[([&sinks](const char*, const char*) { sinks.boxes.push_back(sinks.state.boxScratch); })];

        light = (name >> Vector(state.lightScratch.position) >> Real(state.lightScratch.radius) >>
                 Vector(state.lightScratch.colour))[([&sinks](const char*, const char*) {
            const Light& scratch = sinks.state.lightScratch;
            Light light;
            light.position = scratch.position;
            light.radius = scratch.radius;
            light.colour = scratch.colour;
            sinks.lights.push_back(light);
        })];

        for (int i = 0; i < 3; ++i) {
            TriangleCorner& corner = state.triangleScratch.corners[i];
            corners[i] = sc::ch_p('|') >> '(' >> Vector(corner.position) >> ')' >> Real(corner.u) >> Real(corner.v) >>
                         Real(corner.aux1) >> Real(corner.aux2);
        }
        triangle =
            (name[([&state](const char* first, const char* last) { state.textureNameScratch.assign(first, last); })] >>
             '|' >> '(' >> levelReal >> levelReal >> levelReal >> ')' >> '(' >> levelReal >> levelReal >> levelReal >>
             ')' >> '|' >> sc::int_p >> corners[0] >> corners[1] >> corners[2])[([&sinks](const char*, const char*) {
                LevelParseState& s = sinks.state;
                LeafTriangle& stored = s.triangleScratchList.emplace_back();
                for (int i = 0; i < 3; ++i) {
                    stored.corners[i] = s.triangleScratch.corners[i];
                }
                stored.diffuseTexture = sinks.names.IndexOf(s.textureNameScratch);
            })];

        leaf = (sc::str_p("LEAF") >> +triangle)[([&state](const char*, const char*) {
            auto created = std::make_unique<BspLeaf>();
            // A copy of exactly the leaf's size; the scratch list keeps its room for the next leaf.
            created->triangles.assign(state.triangleScratchList.begin(), state.triangleScratchList.end());
            state.triangleScratchList.clear();
            state.leafTable.push_back(std::move(created));
        })];

        node = (sc::str_p("NODE") >> '(' >> Vector(state.planeScratch.normal) >> ')' >>
                levelReal[([&state](float d) { state.planeScratch.distance = d; })] >>
                ChildReference(state.nodeRecordScratch.firstChildIsLeaf, state.nodeRecordScratch.firstChildIndex) >>
                ChildReference(state.nodeRecordScratch.secondChildIsLeaf,
                               state.nodeRecordScratch.secondChildIndex))[([&state](const char*, const char*) {
            state.nodeRecordScratch.plane = state.planeScratch;
            state.nodeRecordTable.push_back(state.nodeRecordScratch);
        })];

        header = sc::str_p("BSP") >> "BBOXES" >> +box >> "ENTITIES" >> +light;
        nodes = +node;
    }

    Rule name, box, light, corners[3], triangle, leaf, node, header, nodes;
};

// [SECTION] Pieces

enum class PieceEnd { Mismatch, Matched, ReachedEnd, OutOfMemory };

// Long enough that handing a piece to a worker is noise, short enough that a block of the file gives every worker
// several. The fuzz build sets a small piece size, so that its short inputs are cut into several pieces.
#ifndef VELMORA_LEVEL_PIECE_BYTES
#define VELMORA_LEVEL_PIECE_BYTES (64 << 10)
#endif
const std::size_t kPieceBytes = VELMORA_LEVEL_PIECE_BYTES;

// A run of the text that the reader cut at a leaf keyword (or at the end of the text), parsed on its own.
struct Piece {
    std::string text;
    std::size_t offset = 0;  // of text[0] in the level text
    bool first = false;      // starts the level text, so the header comes first
    bool last = false;       // ends where the level text ends
    LevelParseState state;
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    PieceTextureNames names;
    PieceEnd end = PieceEnd::Mismatch;
    std::size_t furthest = 0;  // offset in text of the furthest token tried
    std::size_t newlines = 0;
    std::size_t lineStart = std::string::npos;  // offset in text just past its last newline; npos without one
};

// The header first in the first piece, then leaves until a leaf is about to be tried exactly at the end of a piece
// that is not the last, or the leaves end; then node records. The first piece may end before its first leaf: a cut
// is a "LEAF", where node records cannot begin.
PieceEnd ParseRecords(const Piece& piece, const LevelGrammar& grammar, Scanner& scan)
{
    if (piece.first && !grammar.header.parse(scan)) {
        return PieceEnd::Mismatch;
    }
    std::size_t leaves = 0;
    for (;;) {
        const char* const attempt = scan.first;
        scan.skip(scan);
        if (!piece.last && scan.first == scan.last) {
            return PieceEnd::ReachedEnd;
        }
        if (!grammar.leaf.parse(scan)) {
            scan.first = attempt;
            break;
        }
        ++leaves;
    }
    if (piece.first && leaves == 0) {
        return PieceEnd::Mismatch;
    }
    return grammar.nodes.parse(scan) ? PieceEnd::Matched : PieceEnd::Mismatch;
}

void ParsePiece(Piece& piece)
{
    const char* const begin = piece.text.data();
    const char* furthest = begin;
    try {
        const Sinks sinks{piece.state, piece.lights, piece.boxes, piece.names};
        const LevelGrammar grammar(sinks);
        // The scanner moves the iterator it is given.
        const char* first = begin;
        Scanner scan(first, begin + piece.text.size(), ScannerPolicies(LevelIterationPolicy(furthest)));
        piece.end = ParseRecords(piece, grammar, scan);
    } catch (const std::bad_alloc&) {
        piece.end = PieceEnd::OutOfMemory;
    }
    piece.furthest = std::size_t(furthest - begin);
    piece.newlines = std::size_t(std::count(piece.text.begin(), piece.text.end(), '\n'));
    const std::size_t lastNewline = piece.text.rfind('\n');
    piece.lineStart = lastNewline == std::string::npos ? lastNewline : lastNewline + 1;
}

// Whether the piece's result is the one a single pass over the whole text gives there. A piece that stopped on its
// end about to try a leaf continues into the next: a cut is where a single pass tries a leaf too. Any other result
// holds when the parse never looked at the end of the piece: every token stops at white space, reading past white
// space moves the furthest point, and the byte before a cut is white space. Otherwise (a text that goes on after
// its node records, say) it needs more text.
enum class Verdict { Continues, Final, NeedsMore };

Verdict Judge(const Piece& piece)
{
    if (piece.end == PieceEnd::ReachedEnd) {
        return Verdict::Continues;
    }
    if (piece.last || piece.end == PieceEnd::OutOfMemory || piece.furthest < piece.text.size()) {
        return Verdict::Final;
    }
    return Verdict::NeedsMore;
}

// Where the reader may cut: the first "LEAF" at or after `from` (and past the start) between white space and
// followed by a name and a vertical bar: "LEAF name |". There a single pass is about to try a leaf whichever record
// it is in: a light named LEAF fails at the bar, and so does a triangle named LEAF at the name after it. npos when
// there is none whose bar has arrived.
std::size_t NextCut(const std::string& text, std::size_t from)
{
    for (std::size_t at = text.find("LEAF", std::max<std::size_t>(from, 1)); at != std::string::npos;
         at = text.find("LEAF", at + 1)) {
        if (!IsLevelSpace(text[at - 1]) || at + 4 >= text.size() || !IsLevelSpace(text[at + 4])) {
            continue;
        }
        std::size_t next = at + 4;
        while (next < text.size() && IsLevelSpace(text[next])) {
            ++next;
        }
        const std::size_t name = next;
        while (next < text.size() && !IsLevelSpace(text[next]) && text[next] != '|') {
            ++next;
        }
        while (next < text.size() && IsLevelSpace(text[next])) {
            ++next;
        }
        if (next == text.size()) {
            return std::string::npos;
        }
        if (next > name && text[next] == '|' && !IsLevelSpace(text[name])) {
            return at;
        }
    }
    return std::string::npos;
}

// Bytes [begin, end) of text, which starts at `offset` in the level text, as a piece.
std::unique_ptr<Piece> Cut(const std::string& text, std::size_t begin, std::size_t end, std::size_t offset, bool last)
{
    auto piece = std::make_unique<Piece>();
    piece->text.assign(text, begin, end - begin);
    piece->offset = offset + begin;
    piece->first = piece->offset == 0;
    piece->last = last;
    return piece;
}

// Pieces parsed on worker threads and handed back in text order. The calling thread reads, cuts and judges; GL
// stays there.
class PieceLine {
public:
    explicit PieceLine(unsigned threads)
    {
        for (unsigned t = 0; t < std::max(1u, threads); ++t) {
            workers_.emplace_back([this] { Work(); });
        }
    }

    ~PieceLine()
    {
        {
            // Pieces not started yet are not parsed: the parse has ended before them.
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            waiting_.clear();
        }
        wake_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
    }

    // Queues a piece behind every earlier one.
    void Push(std::unique_ptr<Piece> piece)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            order_.push_back(Entry{std::move(piece), false});
            waiting_.push_back(order_.back().piece.get());
        }
        wake_.notify_all();
    }

    std::size_t Size() const { return order_.size(); }

    // The earliest piece once parsed, taken out of the line; nullptr when none is queued.
    std::unique_ptr<Piece> PopParsed()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (order_.empty()) {
            return nullptr;
        }
        done_.wait(lock, [this] { return order_.front().parsed; });
        std::unique_ptr<Piece> piece = std::move(order_.front().piece);
        order_.pop_front();
        return piece;
    }

    // Whether the earliest piece is parsed.
    bool FrontParsed()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return !order_.empty() && order_.front().parsed;
    }

private:
    struct Entry {
        std::unique_ptr<Piece> piece;
        bool parsed;
    };

    void Work()
    {
        for (;;) {
            Piece* piece = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
                if (waiting_.empty()) {
                    return;
                }
                piece = waiting_.front();
                waiting_.pop_front();
            }
            ParsePiece(*piece);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (Entry& entry : order_) {
                    if (entry.piece.get() == piece) {
                        entry.parsed = true;
                    }
                }
            }
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Entry> order_;
    std::deque<Piece*> waiting_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// [SECTION] Reports

// A piece's records joined to the level in text order, with its texture ids loaded on the calling thread: the
// texture source sees the first request of every name in the order of a single pass.
struct Joined {
    std::vector<TriangleTextures> textures;  // by the piece's name index
    std::size_t firstLeaf = 0;
    std::size_t leafCount = 0;
};

void PrintTooLarge(LevelParseState& state)
{
    state.root = nullptr;
    ConsoleLine("Level is too large to load; the level has no tree.");
}

}  // namespace

// The parse of a level text as it arrives: the calling thread reads blocks, cuts the text after the last leaf
// keyword that has arrived, hands each piece to a worker and joins the parsed pieces in order, so at most a few
// pieces of text are held at once.
class LevelStreamParse {
public:
    LevelStreamParse(LevelParseState& state, std::vector<Light>& lights, std::vector<BoundingBox>& boxes,
                     const TextureSource& textures, unsigned threads)
        : state_(state),
          lights_(lights),
          boxes_(boxes),
          textures_(textures),
          threads_(std::max(1u, threads)),
          line_(threads_)
    {
    }

    // Parses into the state and lists and prints the lines of ParseLevelText but the lights line. False when a
    // read failed: then the level's lists are as they were, the state is empty and nothing more is printed.
    bool Run(const LevelTextReader& read, std::size_t blockBytes, const LevelParseProgress& progress)
    {
        blockBytes = std::max<std::size_t>(blockBytes, 1);
        const std::size_t lightsBefore = lights_.size();
        const std::size_t boxesBefore = boxes_.size();
        std::string tail;
        std::size_t tailOffset = 0;
        std::size_t resume = 0;
        bool ended = false;
        const std::size_t pieceBytes = std::min(kPieceBytes, blockBytes);
        // Enough pieces ahead to keep every worker busy while the reader waits on the disk.
        const std::size_t ahead = 2 * std::size_t(threads_) + 2;
        while (!finished_) {
            if (!ended && line_.Size() < ahead && !line_.FrontParsed()) {
                const std::size_t old = tail.size();
                tail.resize(old + blockBytes);
                const std::ptrdiff_t got = read(&tail[old], blockBytes);
                if (got < 0) {
                    Abandon(lightsBefore, boxesBefore);
                    return false;
                }
                tail.resize(old + std::size_t(got));
                read_ += std::size_t(got);
                const std::size_t nul = tail.find('\0', old);
                if (nul != std::string::npos) {
                    tail.resize(nul);
                }
                ended = got == 0 || nul != std::string::npos;
                // Pieces of at least pieceBytes, each ending before a leaf keyword; the rest waits for more text.
                std::size_t begin = 0;
                for (std::size_t cut = NextCut(tail, std::max(begin + pieceBytes, resume)); cut != std::string::npos;
                     cut = NextCut(tail, begin + pieceBytes)) {
                    Hand(Cut(tail, begin, cut, tailOffset, false));
                    begin = cut;
                }
                if (ended) {
                    Hand(Cut(tail, begin, tail.size(), tailOffset, true));
                }
                tail.erase(0, begin);
                tailOffset += begin;
                // Every leaf keyword before the last few bytes has been judged already.
                const std::size_t judged = tail.find_last_not_of(" \t\n\v\f\r");
                resume = judged == std::string::npos || judged < 8 ? 0 : judged - 8;
            } else if (std::unique_ptr<Piece> piece = line_.PopParsed()) {
                Take(std::move(piece));
            }
            if (progress) {
                progress(read_, parsed_);
            }
        }
        if (progress) {
            progress(read_, read_);
        }
        Finish();
        return true;
    }

private:
    // A piece goes to the workers, unless an earlier piece waits for more text: then it is added to that piece,
    // which goes back to the workers once it has at least doubled (so a text cut badly everywhere costs no more
    // than twice a single pass) or the text has ended.
    void Hand(std::unique_ptr<Piece> piece)
    {
        if (!held_) {
            line_.Push(std::move(piece));
            return;
        }
        held_->text += piece->text;
        held_->last = piece->last;
        if (held_->last || held_->text.size() >= 2 * heldTried_) {
            line_.Push(std::move(held_));
        }
    }

    void Take(std::unique_ptr<Piece> piece)
    {
        switch (Judge(*piece)) {
        case Verdict::Continues:
            parsed_ += piece->text.size();
            Join(*piece);
            return;
        case Verdict::Final:
            Join(*piece);
            last_ = std::move(piece);
            finished_ = true;
            return;
        case Verdict::NeedsMore:
            break;
        }
        // Parsed again from its start with the text after it; pieces already queued behind it join it now.
        held_ = std::make_unique<Piece>();
        held_->text = std::move(piece->text);
        held_->offset = piece->offset;
        held_->first = piece->first;
        heldTried_ = held_->text.size();
        while (std::unique_ptr<Piece> later = line_.PopParsed()) {
            held_->text += later->text;
            held_->last = later->last;
        }
        if (held_->last) {
            line_.Push(std::move(held_));
        }
    }

    void Join(Piece& piece)
    {
        lights_.insert(lights_.end(), piece.lights.begin(), piece.lights.end());
        boxes_.insert(boxes_.end(), piece.boxes.begin(), piece.boxes.end());
        Joined joined;
        for (const std::string& name : piece.names.names) {
            joined.textures.push_back(LoadTriangleTextures(name, textures_));
        }
        joined.firstLeaf = state_.leafTable.size();
        joined.leafCount = piece.state.leafTable.size();
        for (auto& leaf : piece.state.leafTable) {
            state_.leafTable.push_back(std::move(leaf));
        }
        joined_.push_back(std::move(joined));
        state_.nodeRecordTable = std::move(piece.state.nodeRecordTable);
        linesBefore_ = lines_;
        lineStartBefore_ = lineStart_;
        lines_ += piece.newlines;
        if (piece.lineStart != std::string::npos) {
            lineStart_ = piece.offset + piece.lineStart;
        }
    }

    // Hands every triangle its texture ids, then builds the tree or reports why not.
    void Finish()
    {
        ParallelFor(
            joined_.size(),
            [this](std::size_t k) {
                const Joined& joined = joined_[k];
                for (std::size_t leaf = joined.firstLeaf; leaf < joined.firstLeaf + joined.leafCount; ++leaf) {
                    for (LeafTriangle& triangle : state_.leafTable[leaf]->triangles) {
                        const TriangleTextures& ids = joined.textures[triangle.diffuseTexture];
                        triangle.diffuseTexture = ids.diffuse;
                        triangle.normalMap = ids.normalMap;
                    }
                }
            },
            threads_);
        const Piece& last = *last_;
        if (last.end == PieceEnd::Matched) {
            AssembleTree(state_);
        } else if (last.end == PieceEnd::Mismatch) {
            PrintMismatch(last);
        } else {
            PrintTooLarge(state_);
        }
    }

    // 1-based line and byte column of the last piece's furthest point.
    void PrintMismatch(const Piece& last) const
    {
        std::size_t line = linesBefore_ + 1;
        std::size_t lineStart = lineStartBefore_;
        for (std::size_t i = 0; i < last.furthest; ++i) {
            if (last.text[i] == '\n') {
                ++line;
                lineStart = last.offset + i + 1;
            }
        }
        ConsoleLinef("Level file does not match at line %zu, column %zu", line,
                     last.offset + last.furthest - lineStart + 1);
    }

    void Abandon(std::size_t lightsBefore, std::size_t boxesBefore)
    {
        lights_.resize(lightsBefore);
        boxes_.resize(boxesBefore);
        state_ = LevelParseState();
    }

    LevelParseState& state_;
    std::vector<Light>& lights_;
    std::vector<BoundingBox>& boxes_;
    const TextureSource& textures_;
    const unsigned threads_;
    PieceLine line_;
    std::unique_ptr<Piece> held_;
    std::size_t heldTried_ = 0;
    std::unique_ptr<Piece> last_;
    std::vector<Joined> joined_;
    bool finished_ = false;
    std::size_t read_ = 0;
    std::size_t parsed_ = 0;
    std::size_t lines_ = 0;
    std::size_t lineStart_ = 0;  // offset of the line the joined text ends on
    std::size_t linesBefore_ = 0;
    std::size_t lineStartBefore_ = 0;  // lines_ and lineStart_ before the last piece joined
};

bool ParseLevelStream(const LevelTextReader& read, LevelParseState& state, std::vector<Light>& lights,
                      std::vector<BoundingBox>& boxes, const TextureSource& textures, unsigned threads,
                      std::size_t blockBytes, const LevelParseProgress& progress)
{
    state = LevelParseState();
    try {
        LevelStreamParse parse(state, lights, boxes, textures, threads);
        if (!parse.Run(read, blockBytes, progress)) {
            return false;
        }
    } catch (const std::bad_alloc&) {
        PrintTooLarge(state);
    }
    ConsoleLinef("%zu lights.", lights.size());
    return true;
}

BspNode* ParseLevelText(std::string_view text, LevelParseState& state, std::vector<Light>& lights,
                        std::vector<BoundingBox>& boxes, const TextureSource& textures, unsigned threads,
                        std::size_t blockBytes)
{
    std::size_t at = 0;
    const auto read = [&](char* buffer, std::size_t size) {
        const std::size_t count = text.copy(buffer, size, at);
        at += count;
        return std::ptrdiff_t(count);
    };
    ParseLevelStream(read, state, lights, boxes, textures, threads, blockBytes);
    return state.root;
}
