#include "TriangleOrder.h"

#include "MeshGen.h"
#include "ReferenceOrder.h"
#include "StripifyInternal.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <thread>

namespace {

using std::size_t;
using Indices = std::vector<uint16_t>;

std::string Text(const OrderConsole& console)
{
    std::string text;
    for (const OrderConsole::Run& run : console.runs)
        for (uint32_t i = 0; i < run.count; ++i)
            text += run.text;
    return text;
}

// Runs the optimiser into a destination of exactly the room it may use.
template <class Index>
std::vector<Index> OrderWith(const std::vector<Index>& in, const OrderOptions& options, OrderScratch& scratch,
                             std::string* console = nullptr, bool* valid = nullptr)
{
    std::vector<Index> out(in.size() - in.size() % 3);
    const OrderResult result = OrderTriangles(out.data(), in.data(), uint32_t(in.size()), options, scratch);
    out.resize(result.indexCount);
    if (console)
        *console = Text(result.console);
    if (valid)
        *valid = result.valid;
    return out;
}

OrderOptions RenderOptions()
{
    OrderOptions options;
    options.cacheSize = 24;
    return options;
}

// Runs the optimiser for the render geometry's 24-entry cache.
Indices Order(const Indices& in, std::string* console = nullptr, bool* valid = nullptr)
{
    OrderScratch scratch;
    return OrderWith(in, RenderOptions(), scratch, console, valid);
}

int CountOf(const std::string& text, const std::string& line)
{
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

const char* edgeWarning = "BuildStripifyInfo: > 2 triangles on an edge... uncertain consequences\n";

// A strip of n triangles along a row of quads, in strip order.
Indices QuadStrip(int n)
{
    Indices out;
    for (int i = 0; i < n; ++i) {
        uint16_t a = uint16_t(i);
        out.insert(out.end(), i % 2 ? std::initializer_list<uint16_t>{uint16_t(a + 1), a, uint16_t(a + 2)}
                                    : std::initializer_list<uint16_t>{a, uint16_t(a + 1), uint16_t(a + 2)});
    }
    return out;
}

Indices Triangles(const Indices& strip, size_t first, size_t count)
{
    return Indices(strip.begin() + 3 * first, strip.begin() + 3 * (first + count));
}

TEST(TriangleOrder, SmallListsComeBackInStripOrder)
{
    EXPECT_EQ(Order({0, 1, 2}), (Indices{0, 1, 2}));
    EXPECT_EQ(Order({0, 1, 2, 2, 1, 3}), (Indices{0, 1, 2, 2, 1, 3}));
    Indices strip = QuadStrip(8);
    EXPECT_EQ(Order(strip), strip);
}

TEST(TriangleOrder, EmptyOrDegenerateInputGivesOneEmptyList)
{
    EXPECT_TRUE(Order({}).empty());
    EXPECT_TRUE(Order({3, 3, 4, 5, 6, 5}).empty());
    // A trailing partial triangle is ignored, not read past.
    EXPECT_EQ(Order({0, 1, 2, 7}), (Indices{0, 1, 2}));
}

TEST(TriangleOrder, DropsDegenerateAndExactRepeatsKeepsRotatedRepeat)
{
    EXPECT_EQ(Order({0, 1, 2, 1, 1, 2, 0, 1, 2}), (Indices{0, 1, 2}));
    std::string console;
    Indices rotated = Order({0, 1, 2, 1, 2, 0}, &console);
    EXPECT_EQ(rotated.size(), 6u);
    EXPECT_TRUE(console.empty());
    // A third copy finds all three edges full.
    Order({0, 1, 2, 1, 2, 0, 2, 0, 1}, &console);
    EXPECT_EQ(CountOf(console, edgeWarning), 3);
}

TEST(TriangleOrder, EdgeWithThreeTrianglesWarnsOnceAndKeepsAll)
{
    std::string console;
    Indices out = Order({0, 1, 2, 1, 0, 3, 0, 1, 4}, &console);
    EXPECT_EQ(console, edgeWarning);
    EXPECT_EQ(out.size(), 9u);
    // An exact repeat of the face that the full edge does not record is still found, and dropped.
    console.clear();
    out = Order({0, 1, 2, 1, 0, 3, 0, 1, 4, 0, 1, 4}, &console);
    EXPECT_EQ(CountOf(console, edgeWarning), 2);
    EXPECT_EQ(out.size(), 9u);
}

TEST(TriangleOrder, LongStripsAreCutIntoCacheSizedPieces)
{
    // 19 to 21 faces: one piece of 18 plus a remainder of up to three.
    for (int n = 19; n <= 21; ++n) {
        Indices strip = QuadStrip(n);
        EXPECT_EQ(Order(strip), strip) << n;
    }
    // 22 faces: pieces of 18 and 4; the short end piece has fewer neighbours per face and goes first.
    Indices strip = QuadStrip(22);
    Indices expected = Triangles(strip, 18, 4);
    Indices head = Triangles(strip, 0, 18);
    expected.insert(expected.end(), head.begin(), head.end());
    EXPECT_EQ(Order(strip), expected);
}

std::map<std::array<uint16_t, 3>, int> TriangleCounts(const Indices& tris)
{
    std::map<std::array<uint16_t, 3>, int> counts;
    for (size_t t = 0; t + 2 < tris.size(); t += 3)
        ++counts[{tris[t], tris[t + 1], tris[t + 2]}];
    return counts;
}

TEST(TriangleOrder, OutputHoldsExactlyTheDistinctInputTriangles)
{
    std::mt19937 rng(1234);
    for (int i = 0; i < 300; ++i) {
        Indices in = RandomMesh(rng);
        bool valid = false;
        Indices out = Order(in, nullptr, &valid);
        EXPECT_TRUE(valid);
        std::map<std::array<uint16_t, 3>, int> expected;
        for (const auto& entry : TriangleCounts(in)) {
            const auto& t = entry.first;
            if (t[0] != t[1] && t[1] != t[2] && t[2] != t[0])
                expected[t] = 1;
        }
        ASSERT_EQ(TriangleCounts(out), expected) << "mesh " << i;
    }
}

TEST(TriangleOrder, MatchesPlainReferenceImplementation)
{
    std::mt19937 rng(99);
    for (int i = 0; i < 400; ++i) {
        Indices in = RandomMesh(rng);
        ASSERT_EQ(Order(in), ReferenceOrder(in, 24, 0)) << "mesh " << i;
    }
    // Larger meshes need many search passes, in which most experiments repeat those of the pass before.
    Indices grid = GridMesh(40, 30);
    ShuffleTriangles(grid, rng);
    EXPECT_EQ(Order(grid), ReferenceOrder(grid, 24, 0));
    Indices full = GridMesh(48, 40), holed;
    for (size_t t = 0; t < full.size(); t += 3)
        if (t % 27 != 0)
            holed.insert(holed.end(), full.begin() + t, full.begin() + t + 3);
    EXPECT_EQ(Order(holed), ReferenceOrder(holed, 24, 0));
}

TEST(TriangleOrder, SpheresAndLargeGridsMatchReference)
{
    std::mt19937 rng(11);
    std::vector<Indices> meshes = {SphereMesh(0), SphereMesh(2), SphereMesh(3), GridMesh(120, 90)};
    Indices shuffledSphere = SphereMesh(3);
    ShuffleTriangles(shuffledSphere, rng);
    meshes.push_back(shuffledSphere);
    for (size_t i = 0; i < meshes.size(); ++i)
        EXPECT_EQ(Order(meshes[i]), ReferenceOrder(meshes[i], 24, 0)) << "mesh " << i;
}

// Growth steps from face to face by precomputed links that know which way each neighbour runs the shared edge and
// how far away it lies in the face order: meshes whose neighbours run their edges either way, or lie far apart.
TEST(TriangleOrder, MixedWindingsAndDistantNeighboursMatchReference)
{
    std::mt19937 rng(5);
    Indices mixed = GridMesh(36, 28);
    for (size_t t = 0; t < mixed.size(); t += 3)
        if (rng() % 3 == 0)
            std::swap(mixed[t], mixed[t + 1]);
    EXPECT_EQ(Order(mixed), ReferenceOrder(mixed, 24, 0));
    // 8000 faces in random order: most neighbours are thousands of faces apart.
    Indices scattered = GridMesh(80, 50);
    ShuffleTriangles(scattered, rng);
    EXPECT_EQ(Order(scattered), ReferenceOrder(scattered, 24, 0));
}

uint64_t Digest(const Indices& indices)
{
    uint64_t hash = 1469598103934665603ull;
    for (uint16_t v : indices)
        hash = (hash ^ v) * 1099511628211ull;
    return hash;
}

// Meshes too large for the reference, pinned to the order the optimiser has always given them.
TEST(TriangleOrder, LargeMeshesKeepTheirEstablishedOrder)
{
    std::mt19937 rng(7);
    Indices shuffled = GridMesh(255, 255);
    ShuffleTriangles(shuffled, rng);
    const struct {
        Indices mesh;
        uint64_t digest;
    } cases[] = {
        {GridMesh(255, 255), 0x4f6a9ee0a0029eb8ull},
        {shuffled, 0xa081b40ca9c07e50ull},
        {SphereMesh(6), 0xc3efdc0c8109214dull},
    };
    for (const auto& c : cases) {
        Indices out = Order(c.mesh);
        EXPECT_EQ(out.size(), c.mesh.size());
        EXPECT_EQ(Digest(out), c.digest);
    }
}

TEST(TriangleOrder, ValidationKeepsOnlyListsOfExactlyTheInputTriangles)
{
    // Input: a b c, its rotated repeat, an exact repeat, a degenerate triangle and one more.
    const Indices input = {0, 1, 2, 1, 2, 0, 0, 1, 2, 3, 3, 4, 2, 1, 5};
    const Indices inputOrder = {0, 1, 2, 1, 2, 0, 2, 1, 5};
    const struct {
        Indices ordered;
        bool kept;
    } cases[] = {
        {{2, 1, 5, 1, 2, 0, 0, 1, 2}, true},
        {{1, 5, 2, 2, 0, 1, 0, 1, 2}, true},   // rotations draw the same triangles
        {{2, 1, 5, 0, 1, 2}, false},           // a triangle lost
        {{2, 1, 5, 2, 1, 5, 0, 1, 2}, false},  // one shown twice, another lost
        {{2, 1, 5, 1, 2, 0, 0, 2, 1}, false},  // reversed winding
        {{2, 1, 5, 1, 2, 0, 0, 1, 2, 3, 3, 4}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        Indices ordered = c.ordered;
        OrderScratch scratch;
        EXPECT_EQ(KeepOrFallBack(input.data(), input.size() / 3, ordered, scratch), c.kept);
        EXPECT_EQ(ordered, c.kept ? c.ordered : inputOrder);
    }
}

TEST(TriangleOrder, OtherCacheSizesAndDissolvedPiecesMatchReference)
{
    std::mt19937 rng(7);
    OrderScratch scratch;
    for (int i = 0; i < 150; ++i) {
        Indices in = RandomMesh(rng);
        OrderOptions options;
        options.cacheSize = int(rng() % 20);
        options.minStripLength = unsigned(rng() % 6);
        Indices out = OrderWith(in, options, scratch);
        ASSERT_EQ(out, ReferenceOrder(in, options.cacheSize, options.minStripLength)) << "mesh " << i;
        // Faces of dissolved pieces are output as a list; the fake faces among them must not be.
        for (size_t t = 0; t < out.size(); t += 3)
            ASSERT_TRUE(out[t] != out[t + 1] && out[t + 1] != out[t + 2] && out[t + 2] != out[t]) << "mesh " << i;
    }
}

TEST(TriangleOrder, SparseOrWideIndicesGiveTheSameOrder)
{
    std::mt19937 rng(5);
    OrderScratch scratch;
    for (int i = 0; i < 100; ++i) {
        Indices in = RandomMesh(rng);
        Indices narrow = Order(in);
        // Few triangles over large 16-bit values are renumbered internally.
        Indices sparse;
        for (uint16_t v : in)
            sparse.push_back(uint16_t(65535 - v * 401));
        Indices sparseOut = Order(sparse);
        ASSERT_EQ(sparseOut.size(), narrow.size());
        for (size_t k = 0; k < narrow.size(); ++k)
            ASSERT_EQ(sparseOut[k], uint16_t(65535 - narrow[k] * 401));
        // Values far apart (0xFFFFFFFF included) take the renumbering path.
        std::vector<uint32_t> wide;
        for (uint16_t v : in)
            wide.push_back(v == 0 ? 0xFFFFFFFFu : uint32_t(v) * 65521u);
        bool valid = false;
        const std::vector<uint32_t> wideOut = OrderWith(wide, RenderOptions(), scratch, nullptr, &valid);
        EXPECT_TRUE(valid);
        ASSERT_EQ(wideOut.size(), narrow.size());
        for (size_t k = 0; k < narrow.size(); ++k)
            ASSERT_EQ(wideOut[k], narrow[k] == 0 ? 0xFFFFFFFFu : uint32_t(narrow[k]) * 65521u);
    }
}

// A call shares nothing but what it is given: lists ordered at once on two threads, each with its own scratch,
// come out as they do one after another through a single scratch whose kept blocks hold earlier lists' data.
TEST(TriangleOrder, ThreadsAndReusedScratchGiveTheSameOrder)
{
    std::mt19937 rng(3);
    std::vector<Indices> meshes = {SphereMesh(5), GridMesh(200, 150), {0, 1, 2, 1, 0, 3, 0, 1, 4}, SphereMesh(4)};
    ShuffleTriangles(meshes[1], rng);
    std::vector<Indices> sequential, threaded(meshes.size());
    std::vector<std::string> sequentialConsole, threadedConsole(meshes.size());
    OrderScratch shared;
    for (const Indices& mesh : meshes) {
        sequentialConsole.emplace_back();
        sequential.push_back(OrderWith(mesh, RenderOptions(), shared, &sequentialConsole.back()));
    }
    std::vector<std::thread> threads;
    for (size_t first = 0; first < 2; ++first)
        threads.emplace_back([&, first] {
            OrderScratch own;
            for (size_t m = first; m < meshes.size(); m += 2)
                threaded[m] = OrderWith(meshes[m], RenderOptions(), own, &threadedConsole[m]);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(threaded, sequential);
    EXPECT_EQ(threadedConsole, sequentialConsole);
}

TEST(Adjacency, EdgesAreSharedAcrossDirectionsAndReachableFromBothEnds)
{
    const int32_t tris[] = {0, 1, 2, 2, 1, 3, 4, 4, 5};
    OrderScratch scratch;
    OrderConsole console;
    StripifyInfo info(scratch, console);
    BuildStripifyInfo(tris, 3, 6, info);
    ASSERT_EQ(info.faces.size(), 2u);
    EXPECT_EQ(info.edges.size(), 5u);
    int32_t shared = FindEdge(info, 2, 1);
    ASSERT_GE(shared, 0);
    EXPECT_EQ(info.edges[shared].face0, 0);
    EXPECT_EQ(info.edges[shared].face1, 1);
    EXPECT_EQ(OtherFace(info, 1, 2, 0), 1);
    EXPECT_EQ(OtherFace(info, 0, 1, 0), -1);
    for (int32_t e = 0; e < int32_t(info.edges.size()); ++e) {
        EXPECT_EQ(FindEdge(info, info.edges[e].v0, info.edges[e].v1), e);
        EXPECT_EQ(FindEdge(info, info.edges[e].v1, info.edges[e].v0), e);
    }
    // Only the shared edge can lead from strip to strip, from either of its ends.
    for (int32_t end : {1, 2})
        EXPECT_EQ(std::vector<int32_t>(info.sharedEdges.begin() + info.sharedStart[end],
                                       info.sharedEdges.begin() + info.sharedStart[end + 1]),
                  std::vector<int32_t>{shared});
}

TEST(VertexCacheModel, KeepsPresentVerticesAndDropsTheOldest)
{
    OrderScratch scratch;
    VertexCacheModel cache(3, 10, scratch);
    int32_t dropped = 0;
    EXPECT_TRUE(cache.Add(1, &dropped));
    EXPECT_EQ(dropped, -1);
    EXPECT_FALSE(cache.Add(1, &dropped));
    cache.Add(2);
    cache.Add(3);
    EXPECT_TRUE(cache.Add(4, &dropped));
    EXPECT_EQ(dropped, 1);
    StripFace face;
    face.v[0] = 2;
    face.v[1] = 9;
    face.v[2] = 4;
    EXPECT_EQ(cache.FaceHits(face), 2);
}

}  // namespace
