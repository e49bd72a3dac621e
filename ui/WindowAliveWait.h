#pragma once

#include <functional>

namespace kestrel {

// Runs blocking work (picture fetches) on a worker thread while the window
// keeps drawing, ticking its clock and reading the channel. User input waits
// until the work is done, so the window stays as blocked for the pupil as a
// synchronous fetch would keep it, without freezing.
void RunKeepingWindowAlive(const std::function<void()>& work);

} // namespace kestrel
