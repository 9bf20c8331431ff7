// Peak memory of a piece of work, for the benchmarks: growth of the resident set's high-water
// mark while it runs.
#pragma once

#include <cstring>
#include <fstream>
#include <malloc.h>
#include <string>

namespace mxbench {

inline long StatusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::strlen(key)));
    return -1;
}

template <typename F>
double PeakMiB(F&& work)
{
    malloc_trim(0); // freed heap pages go back, so reusing them shows as growth
    std::ofstream("/proc/self/clear_refs") << "5"; // restarts the high-water mark
    const long before = StatusKiB("VmRSS:");
    work();
    return double(StatusKiB("VmHWM:") - before) / 1024.0;
}

} // namespace mxbench
