#pragma once
// Letters folded as our file formats and extensions mean them: ASCII only,
// whatever the user's locale (a Turkish one leaves 'I' as it is).
#include <algorithm>
#include <string>
#include <string_view>

namespace planexor {

inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

inline std::string lowerAsciiText(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), lowerAscii);
    return text;
}

inline bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

}  // namespace planexor
