// A small reader for generated level files, written for the tests apart from the viewer's own loader: it accepts
// exactly the record syntax the viewer reads and keeps what the checks need.
#pragma once

#include <array>
#include <string>
#include <vector>

struct ReadCorner {
    std::array<double, 3> position{};
    double u = 0.0, v = 0.0;
};

struct ReadTriangle {
    std::string name;
    std::array<double, 3> headerNormal{}, headerTangent{};
    long headerNumber = 0;
    std::array<ReadCorner, 3> corners;
};

struct ReadChild {
    bool isLeaf = true;
    long index = 0;
};

struct ReadNode {
    std::array<double, 3> normal{};
    double distance = 0.0;
    ReadChild first, second;
};

struct ReadLight {
    std::string name;
    std::array<double, 3> position{}, colour{};
    double radius = 0.0;
};

struct ReadLevel {
    size_t boxes = 0;
    std::vector<ReadLight> lights;
    std::vector<std::vector<ReadTriangle>> leaves;
    std::vector<ReadNode> nodes;
};

// Reads the whole text; on a mismatch returns false with `error` naming the byte offset and what was expected.
// Only white space may follow the last node record.
bool ReadLevelText(const std::string& text, ReadLevel& level, std::string& error);
