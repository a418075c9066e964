// Tree assembly from the node records, and the walk that collects the leaves' triangles.

#include "Level.h"

#include <cstdio>

namespace {

void Reject(const char* line) {
    std::printf("%s; the level has no tree.\n", line);
    std::fflush(stdout);
}

// Checks one child reference of record `owner` and marks the node it reaches. Every node but the root may be
// reached once, which makes the records a tree: no cycle, no node shared, nothing that a walk could loop on.
bool CheckChild(const LevelParseState& state, std::size_t owner, bool isLeaf, int32_t index,
                std::vector<bool>& reached) {
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

bool NodeRecordsFormTree(const LevelParseState& state) {
    std::vector<bool> reached(state.nodeRecordTable.size(), false);
    for (std::size_t k = 0; k < state.nodeRecordTable.size(); ++k) {
        const NodeRecord& record = state.nodeRecordTable[k];
        if (!CheckChild(state, k, record.firstChildIsLeaf, record.firstChildIndex, reached) ||
            !CheckChild(state, k, record.secondChildIsLeaf, record.secondChildIndex, reached)) {
            return false;
        }
    }
    return true;
}

BspNode* Child(const LevelParseState& state, bool isLeaf, int32_t index) {
    if (isLeaf) {
        return state.leafTable[std::size_t(index)].get();
    }
    return state.nodeTable[std::size_t(index)].get();
}

}  // namespace

BspNode* AssembleTree(LevelParseState& state) {
    state.root = nullptr;
    if (state.nodeRecordTable.empty() || !NodeRecordsFormTree(state)) {
        return nullptr;
    }
    // Every node exists before any is linked, so records may refer to records that come later in the file.
    for (const NodeRecord& record : state.nodeRecordTable) {
        auto node = std::make_unique<BspNode>();
        node->plane = record.plane;
        state.nodeTable.push_back(std::move(node));
    }
    std::printf("%zu nodes.\n", state.nodeTable.size());
    std::fflush(stdout);
    for (std::size_t k = 0; k < state.nodeRecordTable.size(); ++k) {
        const NodeRecord& record = state.nodeRecordTable[k];
        state.nodeTable[k]->firstChild = Child(state, record.firstChildIsLeaf, record.firstChildIndex);
        state.nodeTable[k]->secondChild = Child(state, record.secondChildIsLeaf, record.secondChildIndex);
    }
    state.root = state.nodeTable[0].get();
    return state.root;
}

std::vector<Triangle> CollectTriangles(const BspNode* root) {
    std::vector<Triangle> triangles;
    std::vector<const BspNode*> pending;
    if (root != nullptr) {
        pending.push_back(root);
    }
    while (!pending.empty()) {
        const BspNode* node = pending.back();
        pending.pop_back();
        if (node->IsLeaf()) {
            const std::vector<Triangle>& leafTriangles = static_cast<const BspLeaf*>(node)->triangles;
            triangles.insert(triangles.end(), leafTriangles.begin(), leafTriangles.end());
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
