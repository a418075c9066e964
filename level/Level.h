// The scene model of a level and its loading from the level text.
//
// Console lines, each on standard output, ended by a newline and flushed, in this order:
//   "File opened"                  LoadLevel only
//   texture lines                  whatever the TextureSource prints while triangles are completed
//   "<n> nodes."                   when the whole structure matched and the tree was assembled
//   one tree rejection line        when the structure matched but the node records do not form a tree
//   "Level file does not match at line <l>, column <c>"
//                                  when the structure did not match; l and c (from 1, c in bytes) locate the
//                                  furthest token the parser reached
//   "<n> lights."                  always, after the parse
#pragma once

#include "LevelSearch.h"
#include "Result.h"
#include "Triangle.h"
#include "VecMath.h"
#include "WorkerPool.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct BoundingBox {
    Vec3 firstCorner;
    Vec3 secondCorner;
};

struct Light {
    Vec3 position;         // as read
    Vec3 currentPosition;  // used for rendering
    float radius = 0.0f;
    Vec3 colour;
};

// A NODE record as read, before the tree exists. Indices refer to the leaf table or the node-record table.
struct NodeRecord {
    bool firstChildIsLeaf = false;
    int32_t firstChildIndex = 0;
    bool secondChildIsLeaf = false;
    int32_t secondChildIndex = 0;
    Plane plane;
};

struct BspNode {
    virtual ~BspNode() = default;
    virtual bool IsLeaf() const { return false; }

    BspNode* firstChild = nullptr;
    BspNode* secondChild = nullptr;
    Plane plane;  // zero in a leaf
};

struct BspLeaf : BspNode {
    bool IsLeaf() const override { return true; }

    std::vector<LeafTriangle> triangles;  // in file order
};

// What the record actions write while a level text is parsed. The tables own the leaves and nodes, so the tree
// lives exactly as long as the state that built it.
struct LevelParseState {
    Light lightScratch;
    BoundingBox boxScratch;
    Plane planeScratch;
    NodeRecord nodeRecordScratch;
    LeafTriangle triangleScratch;
    std::string textureNameScratch;
    std::vector<LeafTriangle> triangleScratchList;

    std::vector<std::unique_ptr<BspLeaf>> leafTable;  // leaf k is the k-th LEAF record
    std::vector<NodeRecord> nodeRecordTable;          // record k is the k-th NODE record
    std::vector<std::unique_ptr<BspNode>> nodeTable;  // node k is made from record k
    BspNode* root = nullptr;
};

// The parts of a loaded level.
struct Level {
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    BspNode* root = nullptr;
    std::string filePath;  // the file it was read from, as LoadLevel opened it; empty when none was
    // One per load: each owns the tree it built, and a deque never moves them, so every root stays valid as long
    // as the level.
    std::deque<LevelParseState> parseStates;
};

// Parses a level text up to its first NUL byte, appending lights and boxes and filling the state's tables as
// records match; records read before a mismatch stay stored. Prints the console lines above except the file ones.
// The state is emptied first (a tree from an earlier parse with it is gone). Returns the root, or nullptr when no
// tree was built.
// The text is taken in blocks of `blockBytes` and parsed in pieces on up to `threads` threads; the scene, the lines
// and the first request of every texture name come out as from one pass over the text, whatever the block size and
// thread count. Textures are requested on the calling thread only.
constexpr std::size_t kLevelBlockBytes = std::size_t(4) << 20;
BspNode* ParseLevelText(std::string_view text, LevelParseState& state, std::vector<Light>& lights,
                        std::vector<BoundingBox>& boxes, const TextureSource& textures,
                        unsigned threads = UsableThreads(), std::size_t blockBytes = kLevelBlockBytes);

// Fills buffer with up to size next bytes of a level text; returns how many, 0 at its end, or -1 when it cannot be
// read.
using LevelTextReader = std::function<std::ptrdiff_t(char* buffer, std::size_t size)>;
// Told on the calling thread, as the parse goes on, how many bytes have been read and how many parsed; parsed
// equals read only once the parse has ended, before its last lines are printed.
using LevelParseProgress = std::function<void(std::size_t read, std::size_t parsed)>;

// ParseLevelText over a text read block by block while earlier blocks are parsed: only the pieces being parsed are
// held. Returns false, with the lists as they were and the state empty, when a read fails; texture lines may have
// been printed by then, and no other line is.
bool ParseLevelStream(const LevelTextReader& read, LevelParseState& state, std::vector<Light>& lights,
                      std::vector<BoundingBox>& boxes, const TextureSource& textures,
                      unsigned threads = UsableThreads(), std::size_t blockBytes = kLevelBlockBytes,
                      const LevelParseProgress& progress = {});

// The paths LoadLevel tries, relative to the working directory, in order: "../Velmora/out.txt" (ParentThenWorking
// only), then "out.txt".
std::vector<std::string> LevelFilePaths(LevelSearch search);

// Reads the first of LevelFilePaths(search) that is a regular file and parses it into the level's lists, setting its
// root (or nullptr) and its filePath; the tree lives as long as the level. When no file opens, fails with NotFound and
// the line "Error opening file" for the caller to print, and changes nothing. `progress`, when set, is told the
// fraction of the file read and parsed, from 0 to 1, on the calling thread.
Outcome LoadLevel(Level& level, const TextureSource& textures, LevelSearch search = LevelSearch::ParentThenWorking,
                  const std::function<void(double)>& progress = {});

// Reads the level file at path into the level's lists and its filePath like LoadLevel, without its lines about the
// file, on the calling thread and up to `threads` threads. `stop`, when set, is asked before every block is read; when
// it says so the read ends early. Fails, with the level's lists as they were, with NotFound and "Cannot read level file
// <path>: <reason>" when path is not a regular file that opens (a FIFO or a directory is not opened for reading, so
// nothing blocks), or with NotFound and "Level file <path> could not be read whole." when a read failed or was stopped.
Outcome LoadLevelFile(Level& level, const std::string& path, const TextureSource& textures,
                      const std::function<bool()>& stop = {}, unsigned threads = UsableThreads());

// Builds the node table from the node-record table, links the children of the records that node 0 reaches and sets
// state.root to node 0. On that walk a child reference outside its table, a reference to the root, or a second
// reference to an inner node (a cycle or a shared node) is rejected with one line naming the record; then no node
// is built and the result is nullptr. Leaves may be referred to any number of times; records that node 0 does not
// reach are ignored.
BspNode* AssembleTree(LevelParseState& state);

// The completed triangles of every leaf reached from root, first child before second child, each leaf's triangles in
// order; a leaf reached twice contributes twice. Iterative, so the depth of the tree does not matter.
std::vector<Triangle> CollectTriangles(const BspNode* root);
// The same triangles in the same order by address, as their leaves keep them, without copying them; valid while the
// tree lives and its triangles are kept.
std::vector<const LeafTriangle*> CollectTriangleRefs(const BspNode* root);

// Empties every leaf of the level's trees and hands the memory back to the system; the tree's nodes and leaves
// stay. The viewer does so once its render geometry has taken what it needs: the triangles are most of a large
// level's memory.
void ReleaseTriangles(Level& level);
