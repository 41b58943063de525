// The one door to fbclient's OO API: owning handles for its interfaces and the
// translation of its errors into db::Error. Only this header includes Interface.h.
#pragma once

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif
#include <firebird/Interface.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include "db/Error.h"

#include <memory>
#include <utility>

namespace db::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();

/// Reference-counted interfaces (attachment, transaction, statement, result set,
/// metadata, blob) are given back with release().
struct Releaser
{
    template <class T> void operator()(T* p) const noexcept { p->release(); }
};
/// Plain objects (status, builders) are given back with dispose().
struct Disposer
{
    template <class T> void operator()(T* p) const noexcept { p->dispose(); }
};

template <class T> using Ref = std::unique_ptr<T, Releaser>;
template <class T> using Owned = std::unique_ptr<T, Disposer>;

/// A status vector plus the wrapper that throws Firebird::FbException on error.
/// Every call into fbclient goes through one of these, inside guarded().
class Status
{
public:
    Status();
    Firebird::ThrowStatusWrapper* operator&() { return &m_wrapper; }
    Firebird::ThrowStatusWrapper* get() { return &m_wrapper; }

private:
    Owned<Firebird::IStatus> m_status;
    Firebird::ThrowStatusWrapper m_wrapper;
};

/// fbclient's formatted text, first gds code and SQLSTATE of a failed call.
Error toError(const Firebird::FbException& e);

/// Runs `call` and turns fbclient's exception (which is not a std::exception) into
/// db::Error, so that nothing above this layer needs to know about it.
template <class Call> decltype(auto) guarded(Call&& call)
{
    try {
        return std::forward<Call>(call)();
    } catch (const Firebird::FbException& e) {
        throw toError(e);
    }
}

/// Whether `gdsCode` is anywhere in the failure's codes, not only the first: the
/// server often names the general class first and the precise cause after it.
bool hasCode(const Firebird::FbException& e, long gdsCode);

/// Whether a code means that the attachment is gone (server down, connection lost,
/// database shut down), so that a later action may attach anew.
bool isLostAttachment(long gdsCode);

} // namespace db::fb
