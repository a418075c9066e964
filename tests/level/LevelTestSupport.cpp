#include "LevelTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

std::string CaptureStdout(const std::function<void()>& action)
{
    char path[] = "/tmp/level-stdout-XXXXXX";
    const int file = mkstemp(path);
    EXPECT_GE(file, 0);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    action();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(file);
    std::ifstream captured(path, std::ios::binary);
    std::stringstream text;
    text << captured.rdbuf();
    unlink(path);
    return text.str();
}

void Parse(ParsedLevel& level, const std::string& text, unsigned threads, std::size_t blockBytes)
{
    const TextureSource source = level.textures.Source();
    level.console = CaptureStdout([&] {
        level.root = ParseLevelText(text, level.state, level.lights, level.boxes, source, threads, blockBytes);
    });
}

const char* const kExampleLevel =
    "BSP\n"
    "BBOXES\n"
    "( -64 -64 0 ) ( 0 64 128 )\n"
    "( 0 -64 0 ) ( 64 64 128 )\n"
    "ENTITIES\n"
    "light 0 0 96   400   1 0.9 0.75\n"
    "LEAF\n"
    "stone|(1 0 0)(0 1 0)|0\n"
    "  |(-64 -64 0) 0 0 0 0\n"
    "  |(-64 64 0) 0 1 0 1\n"
    "  |(-64 64 128) 1 1 1 1\n"
    "LEAF\n"
    "stone|(-1 0 0)(0 1 0)|0 |(64 64 0) 0 0 0 0 |(64 -64 0) 0 1 0 1 |(64 -64 128) 1 1 1 1\n"
    "NODE (1 0 0) 0 L0 L1\n";
