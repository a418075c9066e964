// The shadow maps of a level's lights, drawn from a pool of a fixed memory budget: a light gets a map when its pass
// first needs one and keeps it until the pool is full and another light needs one, which takes the least recently
// used map of the lights whose passes do not come in this frame. A frame that needs more maps at once than the
// pool holds renders the rest, one light at a time just before its pass, into maps whose lights have had their
// passes or into one more map kept aside for that.
#pragma once

#include "Shadows.h"
#include "VecMath.h"

#include <GL/glew.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// 256 MiB: 36 maps, the eight lights of the generated levels with room to spare for a view that reaches dozens,
// while a level of thousands of lights stays far below the memory its geometry and textures may take.
constexpr size_t kShadowPoolBudgetBytes = size_t(256) << 20;

// What the renderer knows of one light's shadow.
struct LightShadow {
    Vec3 lastSeen;                     // the light's position in the previous frame
    Vec3 mapPosition;                  // where its map is to be rendered from: its position when it last moved
    GLenum depthFunction = GL_LEQUAL;  // the depth test of the frame in which it last moved
    bool mapCurrent = false;           // the slot's map shows the level from mapPosition
    int slot = -1;                     // the pool slot holding its map, -1 for none
};

struct ShadowSlot {
    ShadowMap map;
    int light = -1;          // the light whose map it holds, -1 for none
    uint64_t lastUse = 0;    // the pool's clock when its light was last drawn
    bool neededNow = false;  // its light's pass is still to come in this frame
};

class ShadowPool {
public:
    explicit ShadowPool(size_t budgetBytes = kShadowPoolBudgetBytes) { SetBudget(budgetBytes); }

    // Maps the budget holds, at least two: one that a light keeps and the one kept aside. Lowering the budget
    // deletes the maps beyond it (between frames, with a current GL context).
    void SetBudget(size_t budgetBytes);
    size_t Capacity() const { return capacity_; }
    // Maps created so far (the one kept aside included); never more than Capacity.
    size_t MapsCreated() const { return slots_.size() + (aside_.cube != 0 ? 1 : 0); }

    // Follows the light list of the frame: entries for new lights (whose maps are to be rendered), none for lights
    // gone, whose maps return to the pool.
    void Track(size_t lightCount);
    // Every light's map is rendered again the next time its pass needs it, as if each light had moved.
    void ForgetMaps();
    // Every light's map is rendered again the next time its pass needs it, from where and as it was rendered
    // before: after the shadow program changed.
    void RedrawMaps();

    // At the start of a frame, with each light's position and the frame's depth test: a light whose position
    // differs from the previous frame's needs its map rendered again, from there, with that test.
    void NoteMovement(size_t light, const Vec3& position, GLenum depthFunction);
    const LightShadow& Entry(size_t light) const { return lights_[light]; }

    // A new frame: no slot is needed yet.
    void BeginFrame();
    // The light's pass comes in this frame: its slot, if it has one, is kept for it. True when that slot's map is
    // current.
    bool Reserve(size_t light);
    // A slot for the light's map: its own, a new one, or the least recently used one that no light of this frame
    // needs; null when every slot is needed. The map then still has to be rendered.
    const ShadowMap* Acquire(size_t light);
    // The map the light's pass samples, when it has a current one; otherwise null.
    const ShadowMap* CurrentMap(size_t light) const;
    // The light's map has been rendered from its mapPosition into the slot Acquire gave.
    void MapRendered(size_t light) { lights_[light].mapCurrent = true; }
    // The map kept aside, into which a light is rendered just before its pass when no slot was free for it.
    const ShadowMap& Aside();
    // The light's pass has run: its slot may go to another light.
    void PassDone(size_t light);

private:
    void Release(size_t light);

    size_t capacity_ = 2;
    uint64_t clock_ = 0;
    std::vector<LightShadow> lights_;
    std::vector<ShadowSlot> slots_;
    ShadowMap aside_;
};
