#pragma once
// What the benchmarks share about the machine they run on: its load, and the
// cores that a benchmark and its peer are bound to, so that both do their
// work on the same ones.
#include <sched.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace bench {

// The load average over the last minute and the last five.
inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five;
    if (!(file >> one >> five)) return "unknown";
    return one + " (1 min), " + five + " (5 min)";
}

// The cores of `list`, in taskset's form ("0-3", "0,2,4-5"), that this
// process may use; none when the list names none of them.
inline std::optional<cpu_set_t> coresOf(const std::string& list)
{
    cpu_set_t wanted;
    CPU_ZERO(&wanted);
    std::istringstream parts(list);
    for (std::string part; std::getline(parts, part, ',');) {
        const auto dash = part.find('-');
        const int first = std::atoi(part.substr(0, dash).c_str());
        const int last = dash == std::string::npos ? first : std::atoi(part.substr(dash + 1).c_str());
        for (int cpu = first; cpu <= last && cpu < CPU_SETSIZE; ++cpu)
            if (cpu >= 0) CPU_SET(cpu, &wanted);
    }
    cpu_set_t available;
    if (sched_getaffinity(0, sizeof available, &available) == 0) CPU_AND(&wanted, &wanted, &available);
    if (CPU_COUNT(&wanted) == 0) return std::nullopt;
    return wanted;
}

// Binds this process, and every thread and child it makes from now on, to the
// cores of `list` (to all it may use when the list names none of them);
// returns how many cores that is.
inline int bindToCores(const std::string& list)
{
    if (const std::optional<cpu_set_t> cores = coresOf(list)) sched_setaffinity(0, sizeof *cores, &*cores);
    cpu_set_t bound;
    sched_getaffinity(0, sizeof bound, &bound);
    return CPU_COUNT(&bound);
}

} // namespace bench
