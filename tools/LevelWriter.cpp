#include "LevelWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Collects text in a large buffer and hands it to the file in big blocks; formatting numbers with to_chars
// keeps millions of triangles to seconds.
struct TextSink {
    std::FILE* file = nullptr;
    std::vector<char> buffer = std::vector<char>(1 << 20);
    size_t used = 0;
    int error = 0;  // errno of the first failed write, 0 while every write succeeded

    void Flush()
    {
        if (used != 0 && std::fwrite(buffer.data(), 1, used, file) != used && error == 0)
            error = errno != 0 ? errno : EIO;
        used = 0;
    }

    void Reserve(size_t bytes)
    {
        if (buffer.size() - used < bytes)
            Flush();
    }

    void Text(const char* text, size_t length)
    {
        Reserve(length);
        std::memcpy(buffer.data() + used, text, length);
        used += length;
    }

    void Text(const char* text) { Text(text, std::strlen(text)); }
    void Text(const std::string& text) { Text(text.data(), text.size()); }

    // The shortest text that reads back as the same single-precision value.
    void Real(double value)
    {
        Reserve(32);
        const float single = static_cast<float>(value) + 0.0f;  // no "-0"
        used = std::to_chars(buffer.data() + used, buffer.data() + buffer.size(), single).ptr - buffer.data();
    }

    void Integer(uint64_t value)
    {
        Reserve(24);
        used = std::to_chars(buffer.data() + used, buffer.data() + buffer.size(), value).ptr - buffer.data();
    }

    void Vector(const Vec3& v)
    {
        Real(v.x);
        Text(" ", 1);
        Real(v.y);
        Text(" ", 1);
        Real(v.z);
    }
};

void WriteTriangle(TextSink& out, const LevelLayout& layout, const std::vector<Material>& materials,
                   const LevelMesh& mesh, uint64_t triangle)
{
    MeshCorner corners[3];
    TriangleCorners(layout.faces, mesh, triangle, corners);
    const Face& face = layout.faces[FaceOfTriangle(mesh, triangle)];
    out.Text(materials[face.material].name);
    out.Text("|(", 2);
    out.Vector(FacingNormal(face.facing));
    out.Text(")(", 2);
    out.Vector(FacingTangent(face.facing));
    out.Text(")|", 2);
    out.Integer(face.material);
    for (const MeshCorner& corner : corners) {
        out.Text(" |(", 3);
        out.Vector(corner.position);
        out.Text(") ", 2);
        out.Real(corner.u);
        out.Text(" ", 1);
        out.Real(corner.v);
        out.Text(" 0 0", 4);
    }
    out.Text("\n", 1);
}

void WriteChild(TextSink& out, const BspChild& child)
{
    out.Text(child.isLeaf ? " L" : " N", 2);
    out.Integer(child.index);
}

void WriteBody(TextSink& out, const LevelLayout& layout, const std::vector<Material>& materials, const LevelMesh& mesh,
               const BspTree& tree)
{
    out.Text("BSP\nBBOXES\n");
    for (const LevelBox& box : layout.boxes) {
        out.Text("(", 1);
        out.Vector(box.lo);
        out.Text(") (", 3);
        out.Vector(box.hi);
        out.Text(")\n", 2);
    }
    out.Text("ENTITIES\n");
    for (const LevelLight& light : layout.lights) {
        out.Text(light.name);
        out.Text(" ", 1);
        out.Vector(light.position);
        out.Text(" ", 1);
        out.Real(light.radius);
        out.Text(" ", 1);
        out.Vector(light.colour);
        out.Text("\n", 1);
    }
    for (const auto& [begin, end] : tree.leaves) {
        out.Text("LEAF\n");
        for (size_t k = begin; k < end; ++k)
            WriteTriangle(out, layout, materials, mesh, tree.triangles[k]);
    }
    for (const BspSplit& split : tree.nodes) {
        out.Text("NODE (");
        out.Vector({split.axis == 0 ? 1.0 : 0.0, split.axis == 1 ? 1.0 : 0.0, split.axis == 2 ? 1.0 : 0.0});
        out.Text(") ", 2);
        out.Real(split.distance);
        WriteChild(out, split.front);
        WriteChild(out, split.back);
        out.Text("\n", 1);
    }
    out.Flush();
}

}  // namespace

bool WriteLevelFile(const std::string& path, const LevelLayout& layout, const std::vector<Material>& materials,
                    const LevelMesh& mesh, const BspTree& tree, LevelFileStats& stats)
{
    const std::string temporary = path + ".partial";
    TextSink out;
    out.file = std::fopen(temporary.c_str(), "wb");
    if (!out.file) {
        std::fprintf(stderr, "velmora-levelgen: cannot create '%s': %s\n", temporary.c_str(), std::strerror(errno));
        return false;
    }
    WriteBody(out, layout, materials, mesh, tree);
    if (std::fclose(out.file) != 0 && out.error == 0)
        out.error = errno;
    if (out.error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0)
        out.error = errno;
    if (out.error != 0) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "velmora-levelgen: cannot write '%s': %s\n", path.c_str(), std::strerror(out.error));
        return false;
    }

    std::vector<bool> used(materials.size(), false);
    for (const Face& face : layout.faces)
        used[face.material] = true;
    stats.triangles = mesh.triangleCount;
    stats.lights = layout.lights.size();
    stats.leaves = tree.leaves.size();
    stats.nodes = tree.nodes.size();
    stats.materials = static_cast<size_t>(std::count(used.begin(), used.end(), true));
    return true;
}
