// What a level will cost once its render geometry is built, known from its tree before any triangle is collected,
// and the check that refuses a level the machine cannot hold.
#pragma once

#include "Level.h"
#include "Result.h"

#include <cstddef>
#include <cstdint>

struct LevelCost {
    uint64_t triangles = 0;          // reached from the root, a shared leaf once per reference
    uint64_t distinctTriangles = 0;  // in the distinct leaves reached: they bound the welded vertices
    uint64_t bytes = 0;              // the build, the upload and the lights' shadow maps at their peak
};

// Walks the tree once per node (a leaf once per reference) without touching a triangle.
LevelCost EstimateLevelCost(const BspNode* root, std::size_t lights);

// Fails with OutOfMemory and "Level needs <n> GB for <t> triangles; <m> GB are available." when the cost takes
// more than the share of availableBytes a level may use.
Outcome CheckLevelFits(const LevelCost& cost, uint64_t availableBytes);

// The level's cost against the memory this process can still get.
Outcome CheckLevelFitsMemory(const Level& level);
