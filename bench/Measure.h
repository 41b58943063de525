// Small measuring helpers shared by the benchmark cases: a clock, the peak memory of
// the process, and the one-line "key=value" report bench/run reads.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace bench {

/// CPU time of the whole process (every thread, the embedded engine's too), in seconds.
inline double processCpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

/// Wall time and this process's CPU time since construction. The CPU time shows the
/// client's own work apart from waiting, which helps when the machine is shared.
class Stopwatch
{
public:
    Stopwatch() : m_start(std::chrono::steady_clock::now()), m_cpuStart(processCpuSeconds()) {}
    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }
    double cpuSeconds() const { return processCpuSeconds() - m_cpuStart; }

private:
    std::chrono::steady_clock::time_point m_start;
    double m_cpuStart;
};

/// Peak resident set of this process so far, in KiB.
inline long peakRssKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// Collects figures and prints them on one line as key=value pairs.
class Report
{
public:
    void add(const std::string& key, double value) { m_items.emplace_back(key, value); }
    void print() const
    {
        std::string line;
        for (const auto& [key, value] : m_items) {
            char number[64];
            std::snprintf(number, sizeof number, "%.10g", value);
            line += (line.empty() ? "" : " ") + key + '=' + number;
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    std::vector<std::pair<std::string, double>> m_items;
};

} // namespace bench
