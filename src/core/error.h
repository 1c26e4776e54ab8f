#pragma once
#include <stdexcept>
#include <string>

namespace planexor {

// A failure the user must see. Its text is shown as it stands (message box in
// the window, stderr in the CLI), so it is written for the user, not for us.
class PlanexorError : public std::runtime_error {
public:
    explicit PlanexorError(const std::string& message) : std::runtime_error(message) {}
};

// What the user reads when an allocation fails, in the window and the CLI.
inline constexpr const char* NotEnoughMemoryText =
    "Not enough memory: close other programs or choose a smaller image, then try again";

}  // namespace planexor
