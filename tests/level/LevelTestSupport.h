// Helpers for the level tests: a texture table that records requests, and capture of the console lines.
#pragma once

#include "Level.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Names listed in `known` load as their ids; any other name yields the fallback id 1.
struct TextureTable {
    std::map<std::string, uint32_t> known;
    std::vector<std::string> requests;

    TextureSource Source()
    {
        TextureSource source;
        source.loadTexture = [this](const std::string& name) {
            requests.push_back(name);
            auto found = known.find(name);
            return found == known.end() ? 1u : found->second;
        };
        source.fallbackTexture = 1;
        return source;
    }
};

// Runs `action` with standard output sent to a temporary file and returns what it printed.
std::string CaptureStdout(const std::function<void()>& action);

// A parse of one text with its own state and lists, and the lines it printed.
struct ParsedLevel {
    LevelParseState state;
    std::vector<Light> lights;
    std::vector<BoundingBox> boxes;
    TextureTable textures;
    BspNode* root = nullptr;
    std::string console;
};

void Parse(ParsedLevel& level, const std::string& text, unsigned threads = UsableThreads(),
           std::size_t blockBytes = kLevelBlockBytes);

// The example level: two boxes, one light, two leaves of one triangle each, one node.
extern const char* const kExampleLevel;
