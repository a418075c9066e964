#include "SourceText.h"

#include <algorithm>
#include <cctype>

std::size_t SkipBlankAndComments(const std::string& text, std::size_t at)
{
    while (at < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
        } else if (text.compare(at, 2, "//") == 0) {
            at = text.find('\n', at);
        } else if (text.compare(at, 2, "/*") == 0) {
            std::size_t end = text.find("*/", at + 2);
            at = end == std::string::npos ? end : end + 2;
        } else {
            break;
        }
    }
    return std::min(at, text.size());
}

bool IsIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
