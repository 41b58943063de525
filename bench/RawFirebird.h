// The benchmarks' own minimal fbclient code: the baseline the window is held against,
// written apart from db/ so that the comparison does not measure db/ against itself.
#pragma once

#include "db/FbApi.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace bench {

/// An owned OO-API interface, released on scope exit unless handed back by a call
/// that releases it itself (detach, commit, close).
template <class T> using Ref = db::fb::Ref<T>;

/// A status with the throwing wrapper; errors surface as Firebird::FbException.
class Status
{
public:
    Status() : m_status(db::fb::master()->getStatus()), m_wrapper(m_status.get()) {}
    Firebird::ThrowStatusWrapper* operator&() { return &m_wrapper; }

private:
    db::fb::Owned<Firebird::IStatus> m_status;
    Firebird::ThrowStatusWrapper m_wrapper;
};

/// fbclient's text for a failed call.
std::string errorText(const Firebird::FbException& e);

/// Attaches as SYSDBA with UTF8 as the connection character set.
Ref<Firebird::IAttachment> attach(const std::string& database);
void detach(Ref<Firebird::IAttachment>& attachment);

/// Read committed, wait with a 10 s lock timeout: what the window's transactions use.
Ref<Firebird::ITransaction> startTransaction(Firebird::IAttachment* attachment);
void commit(Ref<Firebird::ITransaction>& transaction);

/// Result rows copied as they come: per column a null byte, then the value's bytes
/// (VARCHAR with its 2-byte length). One pointer per row into 1 MiB chunks.
class RawRows
{
public:
    std::size_t rowCount() const { return m_rows.size(); }
    /// The first column of `row` when it is a VARCHAR, as UTF-8 bytes.
    std::string firstText(std::size_t row) const;

    void clear();
    unsigned char* reserve(std::size_t bytes);
    void commitRow(unsigned char* start, std::size_t used);

private:
    std::vector<std::unique_ptr<unsigned char[]>> m_chunks;
    std::size_t m_chunkUsed = 0;
    std::vector<const unsigned char*> m_rows;
};

/// Runs `sql` in `transaction` and copies every row into `rows`.
void fetchAll(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
              const char* sql, RawRows& rows);

/// Runs `sql` with one text parameter; returns whether it produced a row (for
/// statements with no result, whether it ran).
bool runWithText(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
                 const char* sql, const std::string& parameter);

} // namespace bench
