// Tree assembly from the node records, and the walk that collects the leaves' triangles.

#include "Level.h"

#include <malloc.h>
#include "Console.h"

#include <cstdio>

namespace {

void Reject(const char* line) { ConsoleLinef("%s; the level has no tree.", line); }

// Checks one child reference of record `owner`, met on the walk from record 0, and marks the node it reaches. A
// node reached a second time closes a cycle or is shared by two parents, whose geometry would then be collected
// twice; the root is reached before anything can refer to it. Leaves may be shared.
bool CheckChild(const LevelParseState& state, std::size_t owner, bool isLeaf, int32_t index, std::vector<bool>& reached)
{
    char line[160];
    const std::size_t count = isLeaf ? state.leafTable.size() : state.nodeRecordTable.size();
    if (index < 0 || std::size_t(index) >= count) {
        std::snprintf(line, sizeof line, "Node %zu refers to %s %d, which does not exist", owner,
                      isLeaf ? "leaf" : "node", index);
        Reject(line);
        return false;
    }
    if (isLeaf) {
        return true;
    }
    if (index == 0) {
        std::snprintf(line, sizeof line, "Node %zu refers to the root node 0", owner);
        Reject(line);
        return false;
    }
    if (reached[std::size_t(index)]) {
        std::snprintf(line, sizeof line, "Node %zu refers to node %d a second time", owner, index);
        Reject(line);
        return false;
    }
    reached[std::size_t(index)] = true;
    return true;
}

// Walks the records that record 0 reaches, in the order the geometry is collected, and checks their references.
// Records that the walk does not reach are never read: they are not part of the tree. `reached` ends up marking
// the records of the tree.
bool TreeFromRootIsSound(const LevelParseState& state, std::vector<bool>& reached)
{
    reached.assign(state.nodeRecordTable.size(), false);
    reached[0] = true;
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
        const std::size_t k = pending.back();
        pending.pop_back();
        const NodeRecord& record = state.nodeRecordTable[k];
        if (!CheckChild(state, k, record.firstChildIsLeaf, record.firstChildIndex, reached) ||
            !CheckChild(state, k, record.secondChildIsLeaf, record.secondChildIndex, reached)) {
            return false;
        }
        if (!record.secondChildIsLeaf) {
            pending.push_back(std::size_t(record.secondChildIndex));
        }
        if (!record.firstChildIsLeaf) {
            pending.push_back(std::size_t(record.firstChildIndex));
        }
    }
    return true;
}

BspNode* Child(const LevelParseState& state, bool isLeaf, int32_t index)
{
    if (isLeaf) {
        return state.leafTable[std::size_t(index)].get();
    }
    return state.nodeTable[std::size_t(index)].get();
}

}  // namespace

BspNode* AssembleTree(LevelParseState& state)
{
    state.root = nullptr;
    std::vector<bool> inTree;
    if (state.nodeRecordTable.empty() || !TreeFromRootIsSound(state, inTree)) {
        return nullptr;
    }
    // Every node exists before any is linked, so records may refer to records that come later in the file.
    for (const NodeRecord& record : state.nodeRecordTable) {
        auto node = std::make_unique<BspNode>();
        node->plane = record.plane;
        state.nodeTable.push_back(std::move(node));
    }
    ConsoleLinef("%zu nodes.", state.nodeTable.size());
    // Records outside the tree keep their nodes unlinked: their references were never checked.
    for (std::size_t k = 0; k < state.nodeRecordTable.size(); ++k) {
        if (!inTree[k]) {
            continue;
        }
        const NodeRecord& record = state.nodeRecordTable[k];
        state.nodeTable[k]->firstChild = Child(state, record.firstChildIsLeaf, record.firstChildIndex);
        state.nodeTable[k]->secondChild = Child(state, record.secondChildIsLeaf, record.secondChildIndex);
    }
    state.root = state.nodeTable[0].get();
    return state.root;
}

std::vector<const LeafTriangle*> CollectTriangleRefs(const BspNode* root)
{
    std::vector<const LeafTriangle*> triangles;
    std::vector<const BspNode*> pending;
    if (root != nullptr) {
        pending.push_back(root);
    }
    while (!pending.empty()) {
        const BspNode* node = pending.back();
        pending.pop_back();
        if (node->IsLeaf()) {
            for (const LeafTriangle& triangle : static_cast<const BspLeaf*>(node)->triangles) {
                triangles.push_back(&triangle);
            }
            continue;
        }
        // Second child below the first, so the first child's subtree is walked first.
        if (node->secondChild != nullptr) {
            pending.push_back(node->secondChild);
        }
        if (node->firstChild != nullptr) {
            pending.push_back(node->firstChild);
        }
    }
    return triangles;
}

std::vector<Triangle> CollectTriangles(const BspNode* root)
{
    std::vector<Triangle> triangles;
    for (const LeafTriangle* triangle : CollectTriangleRefs(root)) {
        triangles.push_back(CompletedTriangle(*triangle));
    }
    return triangles;
}

void ReleaseTriangles(Level& level)
{
    for (LevelParseState& state : level.parseStates) {
        for (auto& leaf : state.leafTable) {
            leaf->triangles = std::vector<LeafTriangle>();
        }
    }
    // The leaves were filled on the parse's threads, so their memory lies in those threads' arenas, which later
    // allocations on other threads would not reuse.
    malloc_trim(0);
}
