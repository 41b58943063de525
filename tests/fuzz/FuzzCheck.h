// The one way a fuzz target reports a broken rule: a message and abort(), which libFuzzer
// and the corpus replay both treat as a failed input.
#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* rule, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: broken rule: %s\n  %s\n", file, line, rule,
                 detail.toUtf8().constData());
    std::abort();
}

} // namespace fuzz

// `detail` is only built when the rule is broken, so it may be costly.
#define TW_FUZZ_CHECK(condition, detail)                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::fuzz::fail(__FILE__, __LINE__, #condition, (detail));                                \
    } while (false)
