// Shared pieces of the shading GL tests: a fresh working directory per test, shader file copies, small files.
#pragma once

#include <string>

// Creates an empty temporary directory and makes it the working directory; restores and removes it at the end.
struct TempWorkDir {
    TempWorkDir();
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;
    std::string path;
    std::string previous;
};

// Copies data/<name> of the source tree into the working directory.
void CopyShaderFile(const std::string& name);

void WriteTextFile(const std::string& name, const std::string& text);
std::string ReadTextFile(const std::string& name);
bool FileExists(const std::string& name);

// Draws the square (x0, y0)-(x1, y1) at z = 0 with glColor, through whatever stages are bound.
void DrawRect(float x0, float y0, float x1, float y1);

// Projection and modelview such that glVertex2f addresses window pixels of a viewport of width by height.
void SetPixelProjection(int width, int height);
