#include "platform/Trace.h"

#include <QString>

#include <chrono>
#include <cstdio>

namespace Platform::Trace {

bool isEnabled()
{
    static const bool enabled = qEnvironmentVariable("TARNWICK_TRACE") == QLatin1String("1");
    return enabled;
}

void phase(const char *name)
{
    if (!isEnabled())
        return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const double ms = double(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) / 1000.0;
    std::fprintf(stderr, "tarnwick-trace %.3f %s\n", ms, name);
}

} // namespace Platform::Trace
