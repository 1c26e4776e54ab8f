#include "core/vector_lanes.h"

namespace planexor {

bool wideVectorsAvailable() {
#ifdef PLANEXOR_HAS_WIDE
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return available;
#else
    return false;
#endif
}

}  // namespace planexor
