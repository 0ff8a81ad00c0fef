#pragma once
// Waiting on a monotonic clock while the event loop keeps running.
#include <functional>

namespace pv {

// The owner of an event loop installs a pump that processes pending events; waits on that
// thread run it, waits on any other thread (and without a pump) just sleep in short steps.
void SetEventPump(std::function<void()> pump);

// Returns as soon as strictly more than `seconds` have passed since the call.
void WaitSeconds(double seconds);

}  // namespace pv
