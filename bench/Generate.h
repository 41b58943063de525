// Builds the benchmark databases: a USER_REGISTRY of realistic Japanese users.
#pragma once

#include <string>

namespace bench {

struct GenerateResult
{
    double createSeconds = 0; // database and table
    double loadSeconds = 0;   // every row inserted and committed
    double indexSeconds = 0;  // the primary key built over the loaded rows
};

/// Creates `database` (which must not exist) and fills USER_REGISTRY with `rows`
/// users, committing every `batch` rows. The same `rows` always gives the same table.
GenerateResult generateUserRegistry(const std::string& database, long rows, long batch);

} // namespace bench
