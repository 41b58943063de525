// Reads a whole query result into a RecordSet: the list's hot path, so the loop
// copies bytes and leaves all decoding to the cells that are looked at.
#include "db/Attachment.h"
#include "db/RecordSet.h"

#include <array>

namespace db {
namespace {

constexpr unsigned kNone = 0;
constexpr unsigned kOctets = 1;

struct FieldLayout
{
    unsigned type = 0;
    unsigned length = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
    bool trimBlanks = false;
};

Column describe(Firebird::IMessageMetadata* metadata, unsigned i, FieldLayout& layout)
{
    fb::Status status;
    Column column;
    column.name = QString::fromUtf8(metadata->getAlias(&status, i));
    layout.type = metadata->getType(&status, i) & ~1u;
    layout.length = metadata->getLength(&status, i);
    layout.offset = metadata->getOffset(&status, i);
    layout.nullOffset = metadata->getNullOffset(&status, i);
    const unsigned charset = metadata->getCharSet(&status, i);
    const bool octets = charset == kOctets;
    column.noneCharset = charset == kNone;
    column.scale = metadata->getScale(&status, i);

    const auto fixed = [&](ColumnKind kind, unsigned size) {
        column.kind = kind;
        column.fixedSize = size;
    };
    switch (layout.type) {
    case SQL_TEXT:
        // CHAR comes padded to its full byte width; the blanks are not the value's.
        layout.trimBlanks = !octets;
        column.kind = octets ? ColumnKind::Binary : ColumnKind::Text;
        break;
    case SQL_VARYING:
        column.kind = octets ? ColumnKind::Binary : ColumnKind::Text;
        break;
    case SQL_SHORT:
        fixed(ColumnKind::Integer, 2);
        break;
    case SQL_LONG:
        fixed(ColumnKind::Integer, 4);
        break;
    case SQL_INT64:
        fixed(ColumnKind::Integer, 8);
        break;
    case SQL_FLOAT:
        fixed(ColumnKind::Float, 4);
        break;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        fixed(ColumnKind::Double, 8);
        break;
    case SQL_TYPE_DATE:
        fixed(ColumnKind::Date, 4);
        break;
    case SQL_TYPE_TIME:
        fixed(ColumnKind::Time, 4);
        break;
    case SQL_TIMESTAMP:
        fixed(ColumnKind::Timestamp, 8);
        break;
    case SQL_BOOLEAN:
        fixed(ColumnKind::Boolean, 1);
        break;
    case SQL_BLOB:
        column.kind =
            metadata->getSubType(&status, i) == 1 ? ColumnKind::TextBlob : ColumnKind::BinaryBlob;
        break;
    default:
        fixed(ColumnKind::Other, layout.length);
        break;
    }
    return column;
}

QByteArray readBlob(Attachment& attachment, Transaction& transaction, const unsigned char* id)
{
    fb::Status status;
    ISC_QUAD blobId;
    std::memcpy(&blobId, id, sizeof blobId);
    fb::Ref<Firebird::IBlob> blob(
        attachment.get()->openBlob(&status, transaction.get(), &blobId, 0, nullptr));
    QByteArray data;
    std::array<char, 32768> segment;
    for (;;) {
        unsigned got = 0;
        const int result =
            blob->getSegment(&status, unsigned(segment.size()), segment.data(), &got);
        attachment.answered();
        if (result != Firebird::IStatus::RESULT_OK && result != Firebird::IStatus::RESULT_SEGMENT)
            break;
        data.append(segment.data(), got);
    }
    blob->close(&status); // releases the interface on success
    (void)blob.release();
    return data;
}

} // namespace

RecordSet fetchAll(Attachment& attachment, Transaction& transaction, const QString& sql)
{
    // A long list is no silence: every row counts as an answer.
    const auto watch = attachment.watch();
    return fb::guarded([&] {
        fb::Status status;
        const QByteArray text = attachment.codec().encode(sql);
        fb::Ref<Firebird::IStatement> statement(attachment.get()->prepare(
            &status, transaction.get(), unsigned(text.size()), text.constData(),
            unsigned(attachment.dialect()), Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        fb::Ref<Firebird::IMessageMetadata> metadata(statement->getOutputMetadata(&status));

        const unsigned count = metadata->getCount(&status);
        std::vector<Column> columns;
        std::vector<FieldLayout> layouts(count);
        std::size_t fixedRowBytes = 0;
        bool hasBlobs = false;
        for (unsigned i = 0; i < count; ++i) {
            columns.push_back(describe(metadata.get(), i, layouts[i]));
            const Column& column = columns.back();
            hasBlobs |= layouts[i].type == SQL_BLOB;
            fixedRowBytes += 1 + (column.fixedSize ? column.fixedSize
                                                   : sizeof(std::uint32_t) + layouts[i].length);
        }
        RecordSet records(std::move(columns), attachment.codec());

        fb::Ref<Firebird::IResultSet> cursor(
            statement->openCursor(&status, transaction.get(), nullptr, nullptr, metadata.get(), 0));
        std::vector<unsigned char> message(metadata->getMessageLength(&status));
        std::vector<QByteArray> blobs(count);
        const std::vector<Column>& info = records.columns();

        while (cursor->fetchNext(&status, message.data()) == Firebird::IStatus::RESULT_OK) {
            attachment.answered();
            const unsigned char* base = message.data();
            std::size_t rowBytes = fixedRowBytes;
            if (hasBlobs) {
                for (unsigned i = 0; i < count; ++i) {
                    const FieldLayout& field = layouts[i];
                    const bool isNull = *reinterpret_cast<const short*>(base + field.nullOffset);
                    if (field.type == SQL_BLOB && !isNull) {
                        blobs[i] = readBlob(attachment, transaction, base + field.offset);
                        rowBytes += std::size_t(blobs[i].size());
                    }
                }
            }
            RecordSet::RowWriter row = records.appendRow(rowBytes);
            for (unsigned i = 0; i < count; ++i) {
                const FieldLayout& field = layouts[i];
                const unsigned char* at = base + field.offset;
                if (*reinterpret_cast<const short*>(base + field.nullOffset)) {
                    row.putNull();
                } else if (info[i].fixedSize) {
                    row.putFixed(at, info[i].fixedSize);
                } else if (field.type == SQL_VARYING) {
                    std::uint16_t size;
                    std::memcpy(&size, at, sizeof size);
                    row.putVariable(at + sizeof size, size);
                } else if (field.type == SQL_TEXT) {
                    std::uint32_t size = field.length;
                    while (field.trimBlanks && size > 0 && at[size - 1] == ' ')
                        --size;
                    row.putVariable(at, size);
                } else {
                    row.putVariable(blobs[i].constData(), std::uint32_t(blobs[i].size()));
                }
            }
            row.finish();
        }
        cursor->close(&status); // releases the interface on success
        (void)cursor.release();
        return records;
    });
}

} // namespace db
