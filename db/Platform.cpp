// Platform details kept in one place: where the profile lives.
#include "db/Platform.h"

namespace db {

QString profilePath()
{
    return QStringLiteral(TW_PROFILE_PATH);
}

} // namespace db
