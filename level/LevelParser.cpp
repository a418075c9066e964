// The level grammar. Records are stored by their actions the moment they match; repetitions are greedy and give
// back a failed attempt, so a name has no reserved words and a section ends where its next record cannot start.
//
// A large text is cut into pieces that are parsed at once. A cut is only a guess at a leaf boundary; a piece counts
// only when the parse before it ended exactly on its start, about to try a leaf: the one state in which every piece
// but the first begins. The grammar holds nothing else across a leaf boundary, so from there the piece reads
// exactly what a single pass would, and the pieces that count, joined, are that pass.

#include "Level.h"
#include "Console.h"
#include "LevelReal.h"

#include <boost/spirit/include/classic_core.hpp>

#include <algorithm>
#include <cstdio>
#include <new>
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
                // Completed where it is stored, so the triangle is not copied again.
                Triangle& completed = s.triangleScratchList.emplace_back();
                for (int i = 0; i < 3; ++i) {
                    completed.corners[i] = s.triangleScratch.corners[i];
                }
                CompleteTriangleShape(completed);
                completed.diffuseTexture = sinks.names.IndexOf(s.textureNameScratch);
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

// A piece should take long enough to parse that handing it out is noise, and there are many per thread so that a
// thread held up elsewhere leaves its share to the others and the last piece is short to wait for.
// The fuzz build sets a small piece size, so that its short inputs are cut into several pieces.
#ifndef VELMORA_LEVEL_PIECE_BYTES
#define VELMORA_LEVEL_PIECE_BYTES (32 << 10)
#endif
const std::size_t kMinimumPieceBytes = VELMORA_LEVEL_PIECE_BYTES;
const unsigned kPiecesPerThread = 16;

std::size_t PieceCount(std::size_t bytes, unsigned threads)
{
    if (threads <= 1) {
        return 1;
    }
    return std::max<std::size_t>(
        1, std::min<std::size_t>(std::size_t(threads) * kPiecesPerThread, bytes / kMinimumPieceBytes));
}

// The text up to its first NUL byte. Searched on every thread: over a text of hundreds of megabytes a lone search
// is a serial step as long as a good part of the parse on many threads.
std::string_view UpToFirstNul(std::string_view text, unsigned threads)
{
    const std::size_t chunks = PieceCount(text.size(), threads);
    std::vector<std::size_t> found(chunks, std::string_view::npos);
    ParallelFor(
        chunks,
        [&](std::size_t k) {
            const std::size_t begin = text.size() / chunks * k;
            const std::size_t end = k + 1 == chunks ? text.size() : text.size() / chunks * (k + 1);
            found[k] = text.substr(begin, end - begin).find('\0');
            found[k] = found[k] == std::string_view::npos ? found[k] : begin + found[k];
        },
        threads);
    for (const std::size_t at : found) {
        if (at != std::string_view::npos) {
            return text.substr(0, at);
        }
    }
    return text;
}

// The first "LEAF" at or after `from` that stands between white space, or npos.
std::size_t NextLeafKeyword(std::string_view text, std::size_t from)
{
    for (std::size_t at = text.find("LEAF", from); at != std::string_view::npos; at = text.find("LEAF", at + 1)) {
        if (at > 0 && IsLevelSpace(text[at - 1]) && at + 4 < text.size() && IsLevelSpace(text[at + 4])) {
            return at;
        }
    }
    return std::string_view::npos;
}

enum class PieceEnd { Mismatch, Matched, ReachedLaterStart, OutOfMemory };

struct Piece {
    LevelParseState state;
    PieceTextureNames names;
    std::vector<TriangleTextures> textures;  // by name index, once loaded
    PieceEnd end = PieceEnd::Mismatch;
    std::size_t next = 0;  // the piece whose start this one reached
    const char* furthest = nullptr;
};

// Piece k: the header first in piece 0, then leaves until a leaf boundary falls on a later piece's start or the
// leaves end; then node records. Piece 0 may hand over before its first leaf: a start is a "LEAF", where node
// records cannot begin, so the piece there fails exactly where piece 0 would if that leaf does not match.
PieceEnd ParseRecords(std::string_view text, const std::vector<std::size_t>& starts, std::size_t k,
                      const LevelGrammar& grammar, Scanner& scan, std::size_t& next)
{
    if (k == 0 && !grammar.header.parse(scan)) {
        return PieceEnd::Mismatch;
    }
    next = k + 1;
    std::size_t leaves = 0;
    for (;;) {
        const char* const attempt = scan.first;
        scan.skip(scan);
        const std::size_t at = std::size_t(scan.first - text.data());
        while (next < starts.size() && starts[next] < at) {
            ++next;
        }
        if (next < starts.size() && starts[next] == at) {
            return PieceEnd::ReachedLaterStart;
        }
        if (!grammar.leaf.parse(scan)) {
            scan.first = attempt;
            break;
        }
        ++leaves;
    }
    if (k == 0 && leaves == 0) {
        return PieceEnd::Mismatch;
    }
    return grammar.nodes.parse(scan) ? PieceEnd::Matched : PieceEnd::Mismatch;
}

void ParsePiece(std::string_view text, const std::vector<std::size_t>& starts, std::size_t k, Piece& piece,
                std::vector<Light>& lights, std::vector<BoundingBox>& boxes)
{
    const char* first = text.data() + starts[k];
    piece.furthest = first;
    try {
        const Sinks sinks{piece.state, lights, boxes, piece.names};
        const LevelGrammar grammar(sinks);
        Scanner scan(first, text.data() + text.size(), ScannerPolicies(LevelIterationPolicy(piece.furthest)));
        piece.end = ParseRecords(text, starts, k, grammar, scan, piece.next);
    } catch (const std::bad_alloc&) {
        piece.end = PieceEnd::OutOfMemory;
    }
}

// Loads each piece's names in order, which is the order of first use in the text, so the texture source sees the
// first request of every name in the order of a single pass that completed each triangle as it matched; then hands
// every triangle its ids. Asking once per name instead of once per triangle also saves three look-ups a triangle.
void LoadPieceTextures(const std::vector<Piece*>& chain, const TextureSource& textures, unsigned threads)
{
    for (Piece* piece : chain) {
        for (const std::string& name : piece->names.names) {
            piece->textures.push_back(LoadTriangleTextures(name, textures));
        }
    }
    ParallelFor(
        chain.size(),
        [&chain](std::size_t k) {
            const std::vector<TriangleTextures>& loaded = chain[k]->textures;
            for (const auto& leaf : chain[k]->state.leafTable) {
                for (Triangle& triangle : leaf->triangles) {
                    const TriangleTextures& ids = loaded[triangle.diffuseTexture];
                    triangle.diffuseTexture = ids.diffuse;
                    triangle.normalMap = ids.normalMap;
                }
            }
        },
        threads);
}

// [SECTION] Reports

// 1-based line and byte column of position in text.
void PrintMismatch(std::string_view text, const char* position)
{
    const std::size_t offset = std::size_t(position - text.data());
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    ConsoleLinef("Level file does not match at line %zu, column %zu", line, offset - lineStart + 1);
}

void PrintTooLarge(LevelParseState& state)
{
    state.root = nullptr;
    ConsoleLine("Level is too large to load; the level has no tree.");
}

}  // namespace

std::vector<std::size_t> LevelPieceStarts(std::string_view text, unsigned threads)
{
    const std::size_t count = PieceCount(text.size(), threads);
    std::vector<std::size_t> starts{0};
    // Each search begins past the last start, so the whole text is searched at most once.
    std::size_t from = 1;
    for (std::size_t k = 1; k < count; ++k) {
        const std::size_t at = NextLeafKeyword(text, std::max(from, text.size() / count * k));
        if (at == std::string_view::npos) {
            break;
        }
        starts.push_back(at);
        from = at + 1;
    }
    return starts;
}

BspNode* ParseLevelText(std::string_view text, LevelParseState& state, std::vector<Light>& lights,
                        std::vector<BoundingBox>& boxes, const TextureSource& textures, unsigned threads)
{
    state = LevelParseState();

    try {
        text = UpToFirstNul(text, threads);
        const std::vector<std::size_t> starts = LevelPieceStarts(text, threads);
        std::vector<Piece> pieces(starts.size());
        ParallelFor(
            pieces.size(), [&](std::size_t k) { ParsePiece(text, starts, k, pieces[k], lights, boxes); }, threads);

        std::vector<Piece*> chain{&pieces[0]};
        while (chain.back()->end == PieceEnd::ReachedLaterStart) {
            chain.push_back(&pieces[chain.back()->next]);
        }
        LoadPieceTextures(chain, textures, threads);

        std::size_t leaves = 0;
        const char* furthest = text.data();
        for (const Piece* piece : chain) {
            leaves += piece->state.leafTable.size();
            furthest = std::max(furthest, piece->furthest);
        }
        state.leafTable.reserve(leaves);
        for (Piece* piece : chain) {
            for (auto& leaf : piece->state.leafTable) {
                state.leafTable.push_back(std::move(leaf));
            }
        }
        Piece& last = *chain.back();
        state.nodeRecordTable = std::move(last.state.nodeRecordTable);
        if (last.end == PieceEnd::Matched) {
            AssembleTree(state);
        } else if (last.end == PieceEnd::Mismatch) {
            PrintMismatch(text, furthest);
        } else {
            PrintTooLarge(state);
        }
    } catch (const std::bad_alloc&) {
        PrintTooLarge(state);
    }
    ConsoleLinef("%zu lights.", lights.size());
    return state.root;
}
