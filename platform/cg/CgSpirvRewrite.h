// Edits of the SPIR-V that the DX9 front end writes, for what that language cannot say.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Turns the 2D samplers whose names isRectangle accepts into rectangle samplers: their image type gets dimension
// Rect, and the loads from them the matching sampled-image type. A module that does not parse is left alone.
void RetypeRectangleSamplers(std::vector<unsigned int>& spirv,
                             const std::function<bool(const std::string&)>& isRectangle);
