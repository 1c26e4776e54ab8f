#include "app/control_id.h"

#include <unordered_map>

namespace planexor {
namespace {

constexpr std::string_view Names[] = {
#define PLANEXOR_CONTROL_NAME(name) #name,
    PLANEXOR_CONTROLS(PLANEXOR_CONTROL_NAME)
#undef PLANEXOR_CONTROL_NAME
};
static_assert(std::size(Names) == ControlCount);

}  // namespace

std::string_view controlName(Control control) { return Names[indexOf(control)]; }

std::optional<Control> controlByName(std::string_view name) {
    static const auto index = [] {
        std::unordered_map<std::string_view, Control> map;
        for (std::size_t i = 0; i < ControlCount; ++i) map.emplace(Names[i], static_cast<Control>(i));
        return map;
    }();
    const auto found = index.find(name);
    if (found == index.end()) return std::nullopt;
    return found->second;
}

}  // namespace planexor
