#pragma once
#include <string>

namespace planexor {

// A value as the window shows it: at most fifteen significant digits in the
// "C" format, trailing zeros dropped, so that the binary residue of a scaled
// or truncated value ("0.1 * 3") never shows. A NaN or infinity shows "0".
std::string fifteenDigitText(double value);

}  // namespace planexor
