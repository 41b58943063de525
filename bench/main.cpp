// tw-bench: one benchmark case per invocation, so that bench/run can interleave the
// cases and read each process's own peak memory.
//
//   tw-bench generate     --db DATABASE --rows N [--batch N]
//   tw-bench raw-list     --db DATABASE --rows N
//   tw-bench window-list  --db DATABASE --rows N [--scroll]
//   tw-bench qt-list      --db DATABASE --rows N
//   tw-bench raw-logout   --db DATABASE --rows N
//   tw-bench window-logout --db DATABASE --rows N
//   tw-bench window-bigvalue --db DATABASE --rows N
//   tw-bench startup PROGRAM [ARGS...]
//
// DATABASE is host/port:/path.fdb for a server or a plain path for the embedded engine.
#include "Cases.h"
#include "RawFirebird.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: tw-bench generate|raw-list|window-list|qt-list|raw-logout|"
                 "window-logout|window-bigvalue --db DATABASE --rows N [--batch N] [--scroll]\n"
                 "       tw-bench startup PROGRAM [ARGS...]\n");
    return 2;
}

bool parse(int argc, char** argv, bench::Options& options)
{
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--db" && hasValue)
            options.database = argv[++i];
        else if (arg == "--rows" && hasValue)
            options.rows = std::atol(argv[++i]);
        else if (arg == "--batch" && hasValue)
            options.batch = std::atol(argv[++i]);
        else if (arg == "--scroll")
            options.scroll = true;
        else
            return false;
    }
    return !options.database.empty() && options.rows > 0 && options.batch > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string mode = argv[1];
    try {
        if (mode == "startup")
            return argc > 2 ? bench::startupCase(argv + 2) : usage();
        bench::Options options;
        if (!parse(argc, argv, options))
            return usage();
        // The Qt cases get only the program name: their options are not Qt's.
        int qtArgc = 1;
        if (mode == "generate")
            return bench::generateCase(options);
        if (mode == "raw-list")
            return bench::rawListCase(options);
        if (mode == "raw-logout")
            return bench::rawLogoutCase(options);
        if (mode == "window-list")
            return bench::windowListCase(qtArgc, argv, options);
        if (mode == "window-logout")
            return bench::windowLogoutCase(qtArgc, argv, options);
        if (mode == "window-bigvalue")
            return bench::windowBigValueCase(qtArgc, argv, options);
        if (mode == "qt-list")
            return bench::qtDriverListCase(qtArgc, argv, options);
        return usage();
    } catch (const Firebird::FbException& e) {
        std::fprintf(stderr, "tw-bench %s: %s\n", mode.c_str(), bench::errorText(e).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tw-bench %s: %s\n", mode.c_str(), e.what());
    }
    return 1;
}
