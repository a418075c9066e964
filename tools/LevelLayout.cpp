#include "LevelLayout.h"

#include "GenRandom.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kRoomPitch = 1344.0;  // grid spacing of room centres
constexpr double kFloorZ = -48.0;
constexpr double kDoorHalfWidth = 64.0;
constexpr double kDoorTopZ = 48.0;  // also the corridor ceiling
constexpr double kStepHeight = 16.0;
constexpr int kMaxLights = 8;  // every light costs the viewer a shadow cube and a full pass

// Walls of a room, by the side they stand on.
enum Wall { WallLowX, WallHighX, WallLowY, WallHighY };

struct Room {
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0, ceilingZ = 0;
    bool door[4] = {false, false, false, false};
};

enum class Role { Floor, Wall, Ceiling, Pillar, Step, CorridorFloor, CorridorWall, CorridorCeiling };

Vec3 Scaled(const Vec3& v, double s) { return {v.x * s, v.y * s, v.z * s}; }

// Hands out materials for surface roles: a kind that suits the role, then the materials of that kind in turn,
// so that a level with many rooms shows all of them.
struct MaterialPicker {
    const std::vector<Material>& materials;
    GenRandom& random;
    std::vector<size_t> nextOfKind = std::vector<size_t>(5, 0);
    size_t nextAny = 0;

    uint16_t Pick(Role role)
    {
        static const std::vector<TextureKind> kPreferences[] = {
            {TextureKind::Tiles, TextureKind::Stone, TextureKind::Wood},   // Floor
            {TextureKind::Brick, TextureKind::Stone},                      // Wall
            {TextureKind::Wood, TextureKind::Stone, TextureKind::Tiles},   // Ceiling
            {TextureKind::Metal, TextureKind::Stone},                      // Pillar
            {TextureKind::Stone, TextureKind::Tiles, TextureKind::Wood},   // Step
            {TextureKind::Stone, TextureKind::Metal, TextureKind::Tiles},  // CorridorFloor
            {TextureKind::Brick, TextureKind::Metal},                      // CorridorWall
            {TextureKind::Metal, TextureKind::Wood},                       // CorridorCeiling
        };
        const std::vector<TextureKind>& kinds = kPreferences[static_cast<int>(role)];
        const size_t first = random.Below(static_cast<uint32_t>(kinds.size()));
        for (size_t k = 0; k < kinds.size(); ++k) {
            const TextureKind kind = kinds[(first + k) % kinds.size()];
            std::vector<uint16_t> candidates;
            for (size_t m = 0; m < materials.size(); ++m)
                if (materials[m].kind == kind)
                    candidates.push_back(static_cast<uint16_t>(m));
            if (!candidates.empty())
                return candidates[nextOfKind[static_cast<int>(kind)]++ % candidates.size()];
        }
        return static_cast<uint16_t>(nextAny++ % materials.size());
    }
};

struct LayoutBuilder {
    LevelLayout& layout;

    // Adds the rectangle between lo and hi (equal along the facing axis) seen from `facing`.
    void AddRect(Facing facing, const Vec3& lo, const Vec3& hi, uint16_t material, bool shell = false)
    {
        const Vec3 t = FacingTangent(facing);
        const Vec3 b = FacingBitangent(facing);
        Vec3 origin = lo;
        Vec3 extent = hi - lo;
        // Start at the corner with the smallest u and v: where a direction is negative, from the high side.
        if (t.x + b.x < 0)
            origin.x = hi.x;
        if (t.y + b.y < 0)
            origin.y = hi.y;
        if (t.z + b.z < 0)
            origin.z = hi.z;
        const double lengthU = std::fabs(t * extent);
        const double lengthV = std::fabs(b * extent);
        if (lengthU <= 0.0 || lengthV <= 0.0)
            return;
        Face face;
        face.origin = origin;
        face.edgeU = Scaled(t, lengthU);
        face.edgeV = Scaled(b, lengthV);
        face.facing = facing;
        face.material = material;
        face.shell = shell;
        layout.faces.push_back(face);
    }

    // The outside faces of a solid box, except those listed in `skip` (a bit per Facing).
    void AddSolidBox(const Vec3& lo, const Vec3& hi, unsigned skip, uint16_t material)
    {
        const auto emit = [&](Facing facing, Vec3 a, Vec3 b) {
            if (!(skip & (1u << facing)))
                AddRect(facing, a, b, material);
        };
        emit(PosX, {hi.x, lo.y, lo.z}, hi);
        emit(NegX, lo, {lo.x, hi.y, hi.z});
        emit(PosY, {lo.x, hi.y, lo.z}, hi);
        emit(NegY, lo, {hi.x, lo.y, hi.z});
        emit(PosZ, {lo.x, lo.y, hi.z}, hi);
        emit(NegZ, lo, {hi.x, hi.y, lo.z});
    }

    // A wall in 3 x 2 pieces: along its run split at the doorway's sides, in height at the doorway's top, so that
    // its edges meet the floor, ceiling, neighbouring walls and corridors corner to corner. The lower middle piece
    // is left out for a doorway. `at` builds a point from (run coordinate, height).
    template <typename At>
    void AddWall(Facing facing, const double (&run)[4], double ceilingZ, bool door, uint16_t material, At at)
    {
        const double heights[3] = {kFloorZ, kDoorTopZ, ceilingZ};
        for (int a = 0; a < 3; ++a)
            for (int h = 0; h < 2; ++h)
                if (!(door && a == 1 && h == 0))
                    AddRect(facing, at(run[a], heights[h]), at(run[a + 1], heights[h + 1]), material, true);
    }
};

// Floor and ceiling in 3 x 3 pieces split along the doorway lines, walls as AddWall builds them: the shell is
// closed, and neighbouring pieces share every corner, so the grid cells leave no cracks where pieces meet.
void AddRoomShell(LayoutBuilder& builder, const Room& room, double centreX, double centreY, MaterialPicker& picker)
{
    const uint16_t floor = picker.Pick(Role::Floor);
    const uint16_t wall = picker.Pick(Role::Wall);
    const uint16_t ceiling = picker.Pick(Role::Ceiling);
    const double xs[4] = {room.x0, centreX - kDoorHalfWidth, centreX + kDoorHalfWidth, room.x1};
    const double ys[4] = {room.y0, centreY - kDoorHalfWidth, centreY + kDoorHalfWidth, room.y1};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            builder.AddRect(PosZ, {xs[i], ys[j], kFloorZ}, {xs[i + 1], ys[j + 1], kFloorZ}, floor, true);
            builder.AddRect(NegZ, {xs[i], ys[j], room.ceilingZ}, {xs[i + 1], ys[j + 1], room.ceilingZ}, ceiling, true);
        }
    const auto alongY = [](double x) { return [x](double s, double z) { return Vec3(x, s, z); }; };
    const auto alongX = [](double y) { return [y](double s, double z) { return Vec3(s, y, z); }; };
    builder.AddWall(PosX, ys, room.ceilingZ, room.door[WallLowX], wall, alongY(room.x0));
    builder.AddWall(NegX, ys, room.ceilingZ, room.door[WallHighX], wall, alongY(room.x1));
    builder.AddWall(PosY, xs, room.ceilingZ, room.door[WallLowY], wall, alongX(room.y0));
    builder.AddWall(NegY, xs, room.ceilingZ, room.door[WallHighY], wall, alongX(room.y1));
}

// Three steps against a wall without a doorway, each narrower from the wall than the one below it.
void AddSteps(LayoutBuilder& builder, const Room& room, int wall, double centreX, double centreY, uint16_t material)
{
    constexpr double kHalfLength = 128.0;
    for (int k = 0; k < 3; ++k) {
        const double depth = 96.0 - 32.0 * k;
        const double z0 = kFloorZ + kStepHeight * k;
        const double z1 = z0 + kStepHeight;
        Vec3 lo, hi;
        unsigned skip = 1u << NegZ;
        switch (wall) {
        case WallLowX:
            lo = {room.x0, centreY - kHalfLength, z0}, hi = {room.x0 + depth, centreY + kHalfLength, z1};
            skip |= 1u << NegX;
            break;
        case WallHighX:
            lo = {room.x1 - depth, centreY - kHalfLength, z0}, hi = {room.x1, centreY + kHalfLength, z1};
            skip |= 1u << PosX;
            break;
        case WallLowY:
            lo = {centreX - kHalfLength, room.y0, z0}, hi = {centreX + kHalfLength, room.y0 + depth, z1};
            skip |= 1u << NegY;
            break;
        default:
            lo = {centreX - kHalfLength, room.y1 - depth, z0}, hi = {centreX + kHalfLength, room.y1, z1};
            skip |= 1u << PosY;
            break;
        }
        builder.AddSolidBox(lo, hi, skip, material);
    }
}

void AddPillar(LayoutBuilder& builder, double x, double y, double halfSize, double ceilingZ, uint16_t material)
{
    builder.AddSolidBox({x - halfSize, y - halfSize, kFloorZ}, {x + halfSize, y + halfSize, ceilingZ},
                        (1u << PosZ) | (1u << NegZ), material);
}

// A corridor along `axis` (0 = X, 1 = Y) from `from` to `to`, centred on `centre` across it.
void AddCorridor(LayoutBuilder& builder, int axis, double from, double to, double centre, MaterialPicker& picker)
{
    const uint16_t floor = picker.Pick(Role::CorridorFloor);
    const uint16_t wall = picker.Pick(Role::CorridorWall);
    const uint16_t ceiling = picker.Pick(Role::CorridorCeiling);
    const double c0 = centre - kDoorHalfWidth;
    const double c1 = centre + kDoorHalfWidth;
    const auto point = [axis](double along, double across, double z) {
        return axis == 0 ? Vec3(along, across, z) : Vec3(across, along, z);
    };
    builder.AddRect(PosZ, point(from, c0, kFloorZ), point(to, c1, kFloorZ), floor, true);
    builder.AddRect(NegZ, point(from, c0, kDoorTopZ), point(to, c1, kDoorTopZ), ceiling, true);
    builder.AddRect(axis == 0 ? PosY : PosX, point(from, c0, kFloorZ), point(to, c0, kDoorTopZ), wall, true);
    builder.AddRect(axis == 0 ? NegY : NegX, point(from, c1, kFloorZ), point(to, c1, kDoorTopZ), wall, true);
}

Vec3 RandomColour(GenRandom& random)
{
    return {random.Range(0.6, 1.0), random.Range(0.6, 1.0), random.Range(0.6, 1.0)};
}

// Gives every material that no face uses one face, taken from the most used material (of the same kind when
// possible), so that the level names as many materials as it has faces for.
void SpreadUnusedMaterials(LevelLayout& layout, const std::vector<Material>& materials)
{
    std::vector<size_t> uses(materials.size(), 0);
    for (const Face& face : layout.faces)
        ++uses[face.material];
    for (size_t m = 0; m < materials.size(); ++m) {
        if (uses[m] != 0)
            continue;
        Face* donor = nullptr;
        for (Face& face : layout.faces) {
            if (uses[face.material] < 2)
                continue;
            const bool sameKind = materials[face.material].kind == materials[m].kind;
            const bool donorSameKind = donor && materials[donor->material].kind == materials[m].kind;
            if (!donor || (sameKind && !donorSameKind) ||
                (sameKind == donorSameKind && uses[face.material] > uses[donor->material]))
                donor = &face;
        }
        if (!donor)
            return;
        --uses[donor->material];
        donor->material = static_cast<uint16_t>(m);
        ++uses[m];
    }
}

}  // namespace

Vec3 FacingNormal(Facing facing)
{
    static const Vec3 kNormals[] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    return kNormals[facing];
}

Vec3 FacingBitangent(Facing facing) { return facing >= PosZ ? Vec3(0, 1, 0) : Vec3(0, 0, 1); }

Vec3 FacingTangent(Facing facing) { return Cross(FacingBitangent(facing), FacingNormal(facing)); }

std::vector<Material> MakeMaterials(int count, uint64_t seed, bool everyNormalMap)
{
    static const TextureKind kKinds[] = {TextureKind::Brick, TextureKind::Stone, TextureKind::Tiles, TextureKind::Wood,
                                         TextureKind::Metal};
    static const char* const kKindNames[] = {"brick", "stone", "tiles", "wood", "metal"};
    GenRandom random(seed ^ 0x6d617465726961ull);
    std::vector<Material> materials;
    for (int i = 0; i < count; ++i) {
        Material material;
        material.kind = kKinds[i % 5];
        char name[32];
        std::snprintf(name, sizeof name, "%s%02d", kKindNames[i % 5], i);
        material.name = name;
        material.hasNormalMap = everyNormalMap || i % 3 != 2;
        material.diffuseFormat = i % 2 == 0 ? ImageFormat::Dds : ImageFormat::Tga;
        material.normalFormat = i % 4 < 2 ? ImageFormat::Jpg : ImageFormat::Tga;
        material.seed = random.Next();
        material.variant = i / 5;
        materials.push_back(material);
    }
    return materials;
}

LevelLayout BuildLayout(int rooms, const std::vector<Material>& materials, uint64_t seed)
{
    GenRandom random(seed);
    LevelLayout layout;
    LayoutBuilder builder{layout};
    MaterialPicker picker{materials, random};

    rooms = std::max(rooms, 1);
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(rooms))));
    const auto column = [columns](int r) { return r % columns; };
    const auto row = [columns](int r) { return r / columns; };
    const auto centre = [&](int r) { return std::pair<double, double>(column(r) * kRoomPitch, row(r) * kRoomPitch); };

    std::vector<Room> plan(rooms);
    for (int r = 0; r < rooms; ++r) {
        Room& room = plan[r];
        const auto [cx, cy] = centre(r);
        if (r == 0) {
            // The viewer starts at the origin looking along +X: leave room ahead for pillars and lights.
            room.x0 = -256, room.x1 = 768, room.y0 = -384, room.y1 = 384, room.ceilingZ = 112;
        } else {
            const double hx = 288 + 32 * random.Below(6);
            const double hy = 288 + 32 * random.Below(6);
            room.x0 = cx - hx, room.x1 = cx + hx, room.y0 = cy - hy, room.y1 = cy + hy;
            room.ceilingZ = 80 + 32 * random.Below(4);
        }
    }

    // Rooms of a row form a chain; each pair of neighbouring rows is joined at its first column and, at random,
    // elsewhere. That keeps every room reachable.
    struct Link {
        int a, b, axis;
    };
    std::vector<Link> links;
    for (int r = 0; r < rooms; ++r) {
        if (column(r) + 1 < columns && r + 1 < rooms)
            links.push_back({r, r + 1, 0});
        if (r + columns < rooms && (column(r) == 0 || random.Uniform() < 0.4))
            links.push_back({r, r + columns, 1});
    }
    for (const Link& link : links) {
        Room& a = plan[link.a];
        Room& b = plan[link.b];
        a.door[link.axis == 0 ? WallHighX : WallHighY] = true;
        b.door[link.axis == 0 ? WallLowX : WallLowY] = true;
        if (link.axis == 0)
            AddCorridor(builder, 0, a.x1, b.x0, centre(link.a).second, picker);
        else
            AddCorridor(builder, 1, a.y1, b.y0, centre(link.a).first, picker);
    }

    for (int r = 0; r < rooms; ++r) {
        const Room& room = plan[r];
        const auto [cx, cy] = centre(r);
        AddRoomShell(builder, room, cx, cy, picker);
        layout.boxes.push_back({{room.x0, room.y0, kFloorZ}, {room.x1, room.y1, room.ceilingZ}});

        const uint16_t pillar = picker.Pick(Role::Pillar);
        if (r == 0) {
            for (double x : {192.0, 480.0})
                for (double y : {-176.0, 176.0})
                    AddPillar(builder, x, y, 24.0, room.ceilingZ, pillar);
        } else if (random.Uniform() < 0.75) {
            const double half = 20.0 + 4.0 * random.Below(4);
            const double dx = (room.x1 - room.x0) / 4.0;
            const double dy = (room.y1 - room.y0) / 4.0;
            const bool four = random.Uniform() < 0.6;
            for (double sx : {-1.0, 1.0})
                for (double sy : {-1.0, 1.0})
                    if (four || sx == sy)
                        AddPillar(builder, cx + sx * dx, cy + sy * dy, half, room.ceilingZ, pillar);
        }

        std::vector<int> closedWalls;
        for (int w = 0; w < 4; ++w)
            if (!room.door[w] && !(r == 0 && w == WallLowX))
                closedWalls.push_back(w);
        if (!closedWalls.empty() && (r == 0 || random.Uniform() < 0.6)) {
            const int wall = closedWalls[random.Below(static_cast<uint32_t>(closedWalls.size()))];
            AddSteps(builder, room, wall, cx, cy, picker.Pick(Role::Step));
        }
    }

    // The first light circles and the third slides along X in the viewer, so both stand among the pillars.
    layout.lights.push_back({"light0", {336, 0, 24}, 640.0f, {1.0, 0.85, 0.65}});
    layout.lights.push_back({"light1", {-128, 224, 72}, 560.0f, {0.65, 0.75, 1.0}});
    layout.lights.push_back({"light2", {336, -280, 0}, 480.0f, {0.9, 1.0, 0.7}});
    if (rooms == 1)
        layout.lights.push_back({"light3", {640, 256, 64}, 520.0f, {0.8, 0.8, 0.95}});
    for (int r = 1; r < rooms && static_cast<int>(layout.lights.size()) < kMaxLights; ++r) {
        const Room& room = plan[r];
        const auto [cx, cy] = centre(r);
        const double reach = std::max(room.x1 - room.x0, room.y1 - room.y0) * 0.8;
        char name[32];
        std::snprintf(name, sizeof name, "light%zu", layout.lights.size());
        layout.lights.push_back({name,
                                 {cx + (room.x1 - cx) * 0.3, cy, room.ceilingZ - 40.0},
                                 static_cast<float>(reach),
                                 RandomColour(random)});
    }

    SpreadUnusedMaterials(layout, materials);
    return layout;
}
