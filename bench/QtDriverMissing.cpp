// Stands in for the Qt driver comparison when Qt's Sql module is not installed.
#include "Cases.h"

#include <cstdio>

namespace bench {

int qtDriverListCase(int, char**, const Options&)
{
    std::fprintf(stderr, "this build has no Qt Sql module\n");
    return 3;
}

} // namespace bench
