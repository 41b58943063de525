// The benchmarks' own minimal fbclient code: the baseline the window is held against.
#include "RawFirebird.h"

#include <array>
#include <cstring>

namespace bench {
namespace {

constexpr std::size_t kChunkBytes = std::size_t(1) << 20;

struct Field
{
    unsigned type;
    unsigned length;
    unsigned offset;
    unsigned nullOffset;
};

} // namespace

std::string errorText(const Firebird::FbException& e)
{
    std::array<char, 2048> text{};
    db::fb::util()->formatStatus(text.data(), unsigned(text.size()), e.getStatus());
    return text.data();
}

Ref<Firebird::IAttachment> attach(const std::string& database)
{
    Status status;
    db::fb::Owned<Firebird::IXpbBuilder> dpb(
        db::fb::util()->getXpbBuilder(&status, Firebird::IXpbBuilder::DPB, nullptr, 0));
    dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&status, isc_dpb_password, "plumbtide");
    dpb->insertString(&status, isc_dpb_lc_ctype, "UTF8");
    Ref<Firebird::IProvider> provider(db::fb::master()->getDispatcher());
    return Ref<Firebird::IAttachment>(provider->attachDatabase(
        &status, database.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status)));
}

void detach(Ref<Firebird::IAttachment>& attachment)
{
    Status status;
    attachment->detach(&status);
    (void)attachment.release();
}

Ref<Firebird::ITransaction> startTransaction(Firebird::IAttachment* attachment)
{
    static const unsigned char tpb[] = {isc_tpb_version3,
                                        isc_tpb_write,
                                        isc_tpb_read_committed,
                                        isc_tpb_rec_version,
                                        isc_tpb_wait,
                                        isc_tpb_lock_timeout,
                                        4,
                                        10,
                                        0,
                                        0,
                                        0};
    Status status;
    return Ref<Firebird::ITransaction>(attachment->startTransaction(&status, sizeof tpb, tpb));
}

void commit(Ref<Firebird::ITransaction>& transaction)
{
    Status status;
    transaction->commit(&status);
    (void)transaction.release();
}

void RawRows::clear()
{
    m_chunks.clear();
    m_rows.clear();
    m_chunkUsed = 0;
}

unsigned char* RawRows::reserve(std::size_t bytes)
{
    if (m_chunks.empty() || m_chunkUsed + bytes > kChunkBytes) {
        m_chunks.push_back(std::make_unique_for_overwrite<unsigned char[]>(
            bytes > kChunkBytes ? bytes : kChunkBytes));
        m_chunkUsed = 0;
    }
    return m_chunks.back().get() + m_chunkUsed;
}

void RawRows::commitRow(unsigned char* start, std::size_t used)
{
    m_chunkUsed += used;
    m_rows.push_back(start);
}

std::string RawRows::firstText(std::size_t row) const
{
    const unsigned char* at = m_rows[row];
    if (*at++ == 0)
        return {};
    std::uint16_t size;
    std::memcpy(&size, at, sizeof size);
    return std::string(reinterpret_cast<const char*>(at + sizeof size), size);
}

void fetchAll(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
              const char* sql, RawRows& rows)
{
    Status status;
    Ref<Firebird::IStatement> statement(attachment->prepare(
        &status, transaction, 0, sql, 3, Firebird::IStatement::PREPARE_PREFETCH_METADATA));
    Ref<Firebird::IMessageMetadata> metadata(statement->getOutputMetadata(&status));
    const unsigned count = metadata->getCount(&status);
    std::vector<Field> fields(count);
    for (unsigned i = 0; i < count; ++i) {
        fields[i] = Field{metadata->getType(&status, i) & ~1u, metadata->getLength(&status, i),
                          metadata->getOffset(&status, i), metadata->getNullOffset(&status, i)};
    }
    const unsigned messageLength = metadata->getMessageLength(&status);
    std::vector<unsigned char> message(messageLength);
    Ref<Firebird::IResultSet> cursor(
        statement->openCursor(&status, transaction, nullptr, nullptr, metadata.get(), 0));

    while (cursor->fetchNext(&status, message.data()) == Firebird::IStatus::RESULT_OK) {
        unsigned char* const start = rows.reserve(messageLength + count);
        unsigned char* at = start;
        for (const Field& field : fields) {
            const unsigned char* value = message.data() + field.offset;
            if (*reinterpret_cast<const short*>(message.data() + field.nullOffset)) {
                *at++ = 0;
                continue;
            }
            *at++ = 1;
            std::size_t size = field.length;
            if (field.type == SQL_VARYING) {
                std::uint16_t length;
                std::memcpy(&length, value, sizeof length);
                size = sizeof length + length;
            }
            std::memcpy(at, value, size);
            at += size;
        }
        rows.commitRow(start, std::size_t(at - start));
    }
    cursor->close(&status);
    (void)cursor.release();
}

bool runWithText(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
                 const char* sql, const std::string& parameter)
{
    Status status;
    Ref<Firebird::IStatement> statement(attachment->prepare(&status, transaction, 0, sql, 3, 0));
    Ref<Firebird::IMessageMetadata> input(statement->getInputMetadata(&status));
    std::vector<unsigned char> in(input->getMessageLength(&status));
    const unsigned offset = input->getOffset(&status, 0);
    const auto size = std::uint16_t(parameter.size());
    std::memcpy(in.data() + offset, &size, sizeof size);
    std::memcpy(in.data() + offset + sizeof size, parameter.data(), size);
    *reinterpret_cast<short*>(in.data() + input->getNullOffset(&status, 0)) = 0;

    Ref<Firebird::IMessageMetadata> output(statement->getOutputMetadata(&status));
    if (output->getCount(&status) == 0) {
        statement->execute(&status, transaction, input.get(), in.data(), nullptr, nullptr);
        return true;
    }
    std::vector<unsigned char> out(output->getMessageLength(&status));
    Ref<Firebird::IResultSet> cursor(
        statement->openCursor(&status, transaction, input.get(), in.data(), output.get(), 0));
    const bool found = cursor->fetchNext(&status, out.data()) == Firebird::IStatus::RESULT_OK;
    cursor->close(&status);
    (void)cursor.release();
    return found;
}

} // namespace bench
