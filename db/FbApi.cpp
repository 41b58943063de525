// The one door to fbclient's OO API: owning handles and error translation.
#include "db/FbApi.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace db::fb {

Firebird::IMaster* master()
{
    static Firebird::IMaster* const instance = Firebird::fb_get_master_interface();
    return instance;
}

Firebird::IUtil* util()
{
    return master()->getUtilInterface();
}

Status::Status() : m_status(master()->getStatus()), m_wrapper(m_status.get()) {}

Error toError(const Firebird::FbException& e)
{
    Firebird::IStatus* status = e.getStatus();
    std::array<char, 4096> text{};
    // A text that fills the buffer comes back without a terminating NUL, so it is read
    // by the length fbclient returns, never past the buffer's end.
    const unsigned written =
        util()->formatStatus(text.data(), static_cast<unsigned>(text.size()), status);
    const auto length =
        static_cast<qsizetype>(::strnlen(text.data(), std::min<std::size_t>(written, text.size())));

    long gdsCode = 0;
    QString sqlState;
    const intptr_t* vector = status->getErrors();
    for (const intptr_t* item = vector; item && *item != isc_arg_end;) {
        const intptr_t kind = item[0];
        if (kind == isc_arg_gds && gdsCode == 0)
            gdsCode = static_cast<long>(item[1]);
        // isc_arg_cstring carries a length and a pointer; every other kind one value.
        item += (kind == isc_arg_cstring) ? 3 : 2;
    }
    // fbclient derives the SQLSTATE from the codes when the server sent none.
    std::array<char, 6> state{};
    fb_sqlstate(state.data(), vector);
    sqlState = QString::fromLatin1(state.data());
    return Error(QString::fromUtf8(text.data(), length).trimmed(), gdsCode, sqlState);
}

bool hasCode(const Firebird::FbException& e, long gdsCode)
{
    const intptr_t* vector = e.getStatus()->getErrors();
    for (const intptr_t* item = vector; item && *item != isc_arg_end;) {
        const intptr_t kind = item[0];
        if (kind == isc_arg_gds && item[1] == gdsCode)
            return true;
        item += (kind == isc_arg_cstring) ? 3 : 2;
    }
    return false;
}

bool isLostAttachment(long gdsCode)
{
    switch (gdsCode) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_conn_lost:
    case isc_shutdown:
    case isc_att_shutdown:
        return true;
    default:
        return false;
    }
}

} // namespace db::fb
