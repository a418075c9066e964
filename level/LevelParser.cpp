// The level grammar. Records are stored by their actions the moment they match; repetitions are greedy and give
// back a failed attempt, so a name has no reserved words and a section ends where its next record cannot start.

#include "Level.h"
#include "LevelReal.h"

#include <boost/spirit/include/classic_core.hpp>

#include <cstdio>
#include <new>
#include <utility>

namespace sc = boost::spirit::classic;

namespace {

bool IsLevelSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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
    LevelIterationPolicy(const PolicyT& other) : sc::skipper_iteration_policy<>(other), furthest(other.furthest) {}

    template <typename ScannerT>
    void skip(const ScannerT& scan) const {
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
    typename sc::parser_result<RealParser, ScannerT>::type parse(const ScannerT& scan) const {
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

struct Sinks {
    LevelParseState& state;
    std::vector<Light>& lights;
    std::vector<BoundingBox>& boxes;
    const TextureSource& textures;
};

auto Vector(Vec3& target) {
    return levelReal[([&target](float x) { target.x = x; })] >> levelReal[([&target](float y) { target.y = y; })] >>
           levelReal[([&target](float z) { target.z = z; })];
}

auto Real(float& target) {
    return levelReal[([&target](float value) { target = value; })];
}

auto ChildReference(bool& isLeaf, int32_t& index) {
    return (sc::ch_p('L')[([&isLeaf](char) { isLeaf = true; })] |
            sc::ch_p('N')[([&isLeaf](char) { isLeaf = false; })]) >>
           sc::int_p[([&index](int value) { index = value; })];
}

struct LevelGrammar {
    explicit LevelGrammar(const Sinks& sinks) {
        LevelParseState& state = sinks.state;

        // No white space inside a name: it runs to the first white-space byte or vertical bar.
        name = sc::lexeme_d[+NameCharParser()];

        box = (sc::ch_p('(') >> Vector(state.boxScratch.firstCorner) >> ')' >> '(' >>
               Vector(state.boxScratch.secondCorner) >> ')')[([&sinks](const char*, const char*) {
            sinks.boxes.push_back(sinks.state.boxScratch);
        })];

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
            corners[i] = sc::ch_p('|') >> '(' >> Vector(corner.position) >> ')' >> Real(corner.u) >>
                         Real(corner.v) >> Real(corner.aux1) >> Real(corner.aux2);
        }
        triangle = (name[([&state](const char* first, const char* last) {
                        state.textureNameScratch.assign(first, last);
                    })] >>
                    '|' >> '(' >> levelReal >> levelReal >> levelReal >> ')' >> '(' >> levelReal >> levelReal >> levelReal >> ')' >>
                    '|' >> sc::int_p >> corners[0] >> corners[1] >> corners[2])[([&sinks](const char*, const char*) {
            LevelParseState& s = sinks.state;
            // Completed where it is stored, so the triangle is not copied again.
            Triangle& completed = s.triangleScratchList.emplace_back();
            for (int i = 0; i < 3; ++i) {
                completed.corners[i] = s.triangleScratch.corners[i];
            }
            CompleteTriangle(completed, s.textureNameScratch, sinks.textures);
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

        file = (sc::str_p("BSP") >> "BBOXES" >> +box >> "ENTITIES" >> +light >> +leaf >>
                +node)[([&state](const char*, const char*) { AssembleTree(state); })];
    }

    Rule name, box, light, corners[3], triangle, leaf, node, file;
};

// 1-based line and byte column of position in text.
void PrintMismatch(std::string_view text, const char* position) {
    const std::size_t offset = std::size_t(position - text.data());
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    std::printf("Level file does not match at line %zu, column %zu\n", line, offset - lineStart + 1);
    std::fflush(stdout);
}

}  // namespace

BspNode* ParseLevelText(std::string_view text, LevelParseState& state, std::vector<Light>& lights,
                        std::vector<BoundingBox>& boxes, const TextureSource& textures) {
    state = LevelParseState();
    text = text.substr(0, text.find('\0'));

    const char* furthest = text.data();
    try {
        const Sinks sinks{state, lights, boxes, textures};
        const LevelGrammar grammar(sinks);
        const char* first = text.data();
        Scanner scan(first, text.data() + text.size(), ScannerPolicies(LevelIterationPolicy(furthest)));
        if (!grammar.file.parse(scan)) {
            PrintMismatch(text, furthest);
        }
    } catch (const std::bad_alloc&) {
        state.root = nullptr;
        std::printf("Level is too large to load; the level has no tree.\n");
        std::fflush(stdout);
    }
    std::printf("%zu lights.\n", lights.size());
    std::fflush(stdout);
    return state.root;
}
