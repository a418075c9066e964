// Small scans over shader source text shared by the translator and the runtime.
#pragma once

#include <string>

// The offset of the first character at or after at that is neither white space nor inside a comment; the text's
// size when there is none.
std::size_t SkipBlankAndComments(const std::string& text, std::size_t at);

bool IsIdentifierChar(char c);
