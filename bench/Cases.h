// The benchmark cases, one per invocation of tw-bench, each printing one report line.
#pragma once

#include <string>

namespace bench {

struct Options
{
    std::string database; // host/port:path over TCP, or a plain path for the embedded engine
    long rows = 0;        // rows the table holds; every case checks it read exactly these
    long batch = 20000;   // rows per commit when generating
    bool scroll = false;  // window-list also scrolls the filled grid
};

int generateCase(const Options& options);
int rawListCase(const Options& options);
int rawLogoutCase(const Options& options);
int windowListCase(int argc, char** argv, const Options& options);
int windowLogoutCase(int argc, char** argv, const Options& options);
/// The grid over a list one of whose names is huge: clicks, keys and scrolling over it.
int windowBigValueCase(int argc, char** argv, const Options& options);
/// Returns 3 when Qt's Firebird driver is not installed.
int qtDriverListCase(int argc, char** argv, const Options& options);
/// Starts `argv[0]` and reports the time until it says it painted its first window.
int startupCase(char** argv);

} // namespace bench
