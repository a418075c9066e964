#include "ShadowPool.h"

#include <algorithm>

namespace {

// A position no light has, so that the first frame renders every map it needs.
const Vec3 kNowhere(65535.0, 65535.0, 65535.0);

LightShadow NewLightShadow()
{
    LightShadow shadow;
    shadow.lastSeen = kNowhere;
    return shadow;
}

}  // namespace

void ShadowPool::SetBudget(size_t budgetBytes)
{
    capacity_ = std::max<size_t>(2, budgetBytes / kShadowMapBytes);
    while (slots_.size() > capacity_ - 1) {
        ShadowSlot& slot = slots_.back();
        if (slot.light >= 0)
            Release(size_t(slot.light));
        DeleteShadowMap(slot.map);
        slots_.pop_back();
    }
}

void ShadowPool::Track(size_t lightCount)
{
    while (lights_.size() > lightCount) {
        Release(lights_.size() - 1);
        lights_.pop_back();
    }
    lights_.resize(lightCount, NewLightShadow());
}

void ShadowPool::ForgetMaps()
{
    for (LightShadow& shadow : lights_)
        shadow.lastSeen = kNowhere;
}

void ShadowPool::RedrawMaps()
{
    for (LightShadow& shadow : lights_)
        shadow.mapCurrent = false;
}

void ShadowPool::NoteMovement(size_t light, const Vec3& position, GLenum depthFunction)
{
    LightShadow& shadow = lights_[light];
    if (!ApproxEqual(position, shadow.lastSeen)) {
        shadow.mapPosition = position;
        shadow.depthFunction = depthFunction;
        shadow.mapCurrent = false;
    }
    shadow.lastSeen = position;
}

void ShadowPool::BeginFrame()
{
    for (ShadowSlot& slot : slots_)
        slot.neededNow = false;
}

bool ShadowPool::Reserve(size_t light)
{
    const LightShadow& shadow = lights_[light];
    if (shadow.slot < 0)
        return false;
    ShadowSlot& slot = slots_[size_t(shadow.slot)];
    slot.neededNow = true;
    slot.lastUse = ++clock_;
    return shadow.mapCurrent;
}

const ShadowMap* ShadowPool::Acquire(size_t light)
{
    LightShadow& shadow = lights_[light];
    if (shadow.slot < 0) {
        if (slots_.size() < capacity_ - 1) {
            slots_.push_back(ShadowSlot{CreateShadowMap()});
            shadow.slot = int(slots_.size() - 1);
        } else {
            int oldest = -1;
            for (size_t s = 0; s < slots_.size(); ++s)
                if (!slots_[s].neededNow && (oldest < 0 || slots_[s].lastUse < slots_[size_t(oldest)].lastUse))
                    oldest = int(s);
            if (oldest < 0)
                return nullptr;
            if (slots_[size_t(oldest)].light >= 0)
                Release(size_t(slots_[size_t(oldest)].light));
            shadow.slot = oldest;
        }
    }
    ShadowSlot& slot = slots_[size_t(shadow.slot)];
    slot.light = int(light);
    slot.neededNow = true;
    slot.lastUse = ++clock_;
    shadow.mapCurrent = false;
    return &slot.map;
}

const ShadowMap* ShadowPool::CurrentMap(size_t light) const
{
    const LightShadow& shadow = lights_[light];
    return shadow.slot >= 0 && shadow.mapCurrent ? &slots_[size_t(shadow.slot)].map : nullptr;
}

const ShadowMap& ShadowPool::Aside()
{
    if (aside_.cube == 0)
        aside_ = CreateShadowMap();
    return aside_;
}

void ShadowPool::PassDone(size_t light)
{
    const LightShadow& shadow = lights_[light];
    if (shadow.slot >= 0)
        slots_[size_t(shadow.slot)].neededNow = false;
}

void ShadowPool::Release(size_t light)
{
    LightShadow& shadow = lights_[light];
    if (shadow.slot >= 0)
        slots_[size_t(shadow.slot)].light = -1;
    shadow.slot = -1;
    shadow.mapCurrent = false;
}
