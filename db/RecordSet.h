// The rows of one query result held in memory compactly: each row is one run of
// bytes in a shared arena, decoded only when a cell is read.
#pragma once

#include "db/TextCodec.h"

#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

namespace db {

class Attachment;
class Transaction;

enum class ColumnKind
{
    Text,    // CHAR and VARCHAR in the connection's character set
    Binary,  // CHAR and VARCHAR in OCTETS
    Integer, // SMALLINT, INTEGER, BIGINT, NUMERIC and DECIMAL (see scale)
    Float,
    Double,
    Date,
    Time,
    Timestamp,
    Boolean,
    TextBlob,
    BinaryBlob,
    Other // a type this build cannot show; read and kept, shown empty
};

struct Column
{
    QString name;
    ColumnKind kind = ColumnKind::Other;
    int scale = 0;          // negative for NUMERIC/DECIMAL digits after the point
    unsigned fixedSize = 0; // bytes kept for fixed-width kinds; 0 for variable ones
    /// Text of character set NONE: bytes the server passes on as stored, in whatever
    /// encoding the application that wrote them used.
    bool noneCharset = false;
};

/// Every row and column of a result, in the order the database returned them. Text
/// is kept in the connection's bytes and decoded per cell, so a million rows cost
/// their bytes plus one pointer each.
///
/// Text of a declared character set arrives converted to the connection's and is
/// decoded with it. Text of character set NONE arrives as stored; it is decoded with
/// the codec for NONE text, by default the connection's too. The UTF-8 codec shows
/// each byte that is not part of a valid UTF-8 sequence as U+FFFD (see TextCodec).
class RecordSet
{
public:
    RecordSet() = default;
    RecordSet(std::vector<Column> columns, TextCodec codec);

    const std::vector<Column>& columns() const { return m_columns; }
    /// Index of the column named `name` without regard to letter case, or -1.
    int columnIndex(const QString& name) const;
    qsizetype rowCount() const { return static_cast<qsizetype>(m_rows.size()); }

    /// The cell as a QVariant: QString for text and scaled numbers, qint64, double,
    /// QDate, QTime, QDateTime, bool, QByteArray for binary data; null when NULL.
    QVariant value(qsizetype row, int column) const;
    /// The first `maxLength` UTF-16 units of a text cell (a surrogate pair is never
    /// split), decoding only the bytes they need; `*whole` tells whether that is all
    /// of it. Other kinds of cell come whole, as value() gives them.
    QVariant valuePrefix(qsizetype row, int column, qsizetype maxLength, bool* whole) const;

    /// The encoding that text of character set NONE is read in from now on.
    void setNoneTextCodec(TextCodec codec) { m_noneCodec = std::move(codec); }

    /// Builds rows in place: begin, put one value per column in order, end.
    class RowWriter;
    RowWriter appendRow(std::size_t maxBytes);

private:
    const unsigned char* cell(qsizetype row, int column) const;
    unsigned char* reserve(std::size_t bytes);

    std::vector<Column> m_columns;
    TextCodec m_codec;
    TextCodec m_noneCodec;
    std::vector<std::unique_ptr<unsigned char[]>> m_chunks;
    std::size_t m_chunkSize = 0;
    std::size_t m_chunkUsed = 0;
    std::vector<const unsigned char*> m_rows;
};

class RecordSet::RowWriter
{
public:
    void putNull() { *m_at++ = 0; }
    void putFixed(const void* bytes, std::size_t size);
    void putVariable(const void* bytes, std::uint32_t size);
    /// Gives back the part of the reservation the row did not use.
    void finish();

private:
    friend class RecordSet;
    RowWriter(RecordSet& set, unsigned char* start) : m_set(set), m_start(start), m_at(start) {}

    RecordSet& m_set;
    unsigned char* m_start;
    unsigned char* m_at;
};

/// Runs `sql` (no parameters) in `transaction` and reads every row into memory;
/// blobs are fetched whole. Throws db::Error with fbclient's text.
RecordSet fetchAll(Attachment& attachment, Transaction& transaction, const QString& sql);

} // namespace db
