#pragma once

namespace Platform::Trace {

// Latency tracing for diagnosis. With TARNWICK_TRACE=1 in the environment, every phase of a
// correction writes one line to standard error: "tarnwick-trace <ms> <phase>", where <ms> is the
// time on the monotonic clock (CLOCK_MONOTONIC, the clock of std::chrono::steady_clock), in
// milliseconds with microseconds, so that stamps of other processes compare with it. Without the
// variable nothing is written. Main thread or not, each line is written whole.
bool isEnabled();
void phase(const char *name);

} // namespace Platform::Trace
