#include "gelsim/core/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace kin::gelsim {

void AssertFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

}  // namespace kin::gelsim
