// Platform details kept in one place: where the profile lives.
#pragma once

#include <QString>

namespace db {

/// The connection profile's absolute path, fixed when the program is built.
QString profilePath();

} // namespace db
