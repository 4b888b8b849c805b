#pragma once
// Keys and the mouse wheel for the testbed's window. The platform layer turns SDL's
// pointer and window events into its own events but passes no keys or wheel motion on, so
// the testbed watches SDL's queue for those itself (main thread: they arrive while the
// platform pumps events in WaitEvent).
#include <cstdint>
#include <vector>

namespace kin::testbed {

struct RawInput {
    int32_t key = 0;      // a testbed Key, or 0 for wheel motion
    float wheel = 0.0f;   // notches, positive away from the user
};

/// Starts watching (after the window services have started).
void StartSdlInput();
void StopSdlInput();
/// The keys and wheel motion seen since the last call, in order.
std::vector<RawInput> TakeSdlInput();

}  // namespace kin::testbed
