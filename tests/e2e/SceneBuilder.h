// Small hand-made levels for the end-to-end tests, with the images and shader files the viewer needs.
#pragma once

#include "ViewerHarness.h"

#include <array>
#include <string>
#include <vector>

struct Point {
    double x, y, z;
};

// Builds a level text: quads as two triangles each, split over two leaves under one node.
class SceneBuilder {
public:
    // A quad a-b-c-d, counter-clockwise seen from its front side, with texture coordinates in world scale.
    void AddQuad(const std::string& texture, Point a, Point b, Point c, Point d);
    // An axis-aligned box with its faces turned outwards (a pillar) or inwards (a room).
    void AddBox(const std::string& texture, Point min, Point max, bool inwards = false);
    void AddLight(Point position, double radius, Point colour);
    std::string Text() const;

private:
    std::vector<std::string> triangles_;
    std::vector<std::string> lights_;
};

// Writes a plain white "white" texture (no specular) with a flat normal map, a flat "nonormal", a neutral "ramp" and a
// still "postprocess" into dir, and copies the four shader files.
void WriteSceneAssets(const TempDir& dir);

// Where a level point appears in a screenshot of the starting view (camera at the origin looking along +X, 90
// degrees vertical field of view), x from the left and y from the bottom.
std::array<int, 2> ProjectFromStart(Point p, int width = 800, int height = 600);

// Mean of the three channels over the 5x5 pixels around (x, y).
double Brightness(const Image& image, int x, int y);

// Pixels that differ between two screenshots of one size, outside the statistics line and the JPEG blocks it
// touches in the lower-left corner.
int DifferingPixels(const Image& a, const Image& b);
