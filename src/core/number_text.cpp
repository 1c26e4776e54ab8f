#include "core/number_text.h"

#include <charconv>
#include <cmath>

namespace planexor {

std::string fifteenDigitText(double value) {
    if (!std::isfinite(value)) return "0";
    char digits[32];
    // to_chars never follows the user's locale, unlike printf.
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 15);
    return std::string(digits, result.ptr);
}

}  // namespace planexor
