// Edits of the SPIR-V that the DX9 front end writes, for what that language cannot say.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Turns the 2D samplers whose names isRectangle accepts into rectangle samplers: their image type gets dimension
// Rect, and the loads from them the matching sampled-image type. A module that does not parse is left alone.
void RetypeRectangleSamplers(std::vector<unsigned int>& spirv,
                             const std::function<bool(const std::string&)>& isRectangle);

// Makes float-to-unsigned conversions (the front end's for an array indexed by a float) signed: GLSL 1.20 has no
// unsigned integers, and an index is never negative in a program that stays inside its array.
void SignedFloatConversions(std::vector<unsigned int>& spirv);

// In a module that queries the size of an image (which the front end types unsigned), makes every unsigned
// integer type signed and its conversions to float signed: GLSL 1.20 has no unsigned integers, and no size, level
// or count comes near 2^31.
void SignedImageQueries(std::vector<unsigned int>& spirv);
