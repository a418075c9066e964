// Reals of the level text: sign, digits with an optional point (or a point and digits), optional exponent.
#pragma once

// Matches one real at first (no white space skipped) and sets value to the float nearest to its decimal value.
// Returns the end of the match, or nullptr when the text there is not a real or its value is beyond the float range.
// An exponent marker must be followed by digits: "1e" is not a real, not even "1".
const char* ReadLevelReal(const char* first, const char* last, float& value);
