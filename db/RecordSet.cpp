// The rows of one query result held in memory compactly.
#include "db/RecordSet.h"

#include "db/Attachment.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <cstring>

namespace db {
namespace {

constexpr std::size_t kChunkBytes = std::size_t(1) << 20;

template <class T> T load(const unsigned char* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

QString scaledText(qint64 value, int scale)
{
    if (scale >= 0) {
        QString text = QString::number(value);
        return scale == 0 ? text : text + QString(scale, u'0');
    }
    const bool negative = value < 0;
    // Work on the magnitude as unsigned so that the smallest BIGINT survives.
    const quint64 magnitude = negative ? quint64(0) - quint64(value) : quint64(value);
    QString digits = QString::number(magnitude);
    const int decimals = -scale;
    if (digits.size() <= decimals)
        digits.prepend(QString(decimals - digits.size() + 1, u'0'));
    digits.insert(digits.size() - decimals, u'.');
    return negative ? u'-' + digits : digits;
}

QDate fromIscDate(qint32 days)
{
    return QDate(1858, 11, 17).addDays(days);
}

QTime fromIscTime(quint32 tenThousandths)
{
    return QTime::fromMSecsSinceStartOfDay(int(tenThousandths / 10));
}

} // namespace

RecordSet::RecordSet(std::vector<Column> columns, TextCodec codec)
    : m_columns(std::move(columns)), m_codec(codec), m_noneCodec(std::move(codec))
{}

int RecordSet::columnIndex(const QString& name) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

unsigned char* RecordSet::reserve(std::size_t bytes)
{
    if (m_chunks.empty() || m_chunkUsed + bytes > m_chunkSize) {
        m_chunkSize = std::max(kChunkBytes, bytes);
        m_chunks.push_back(std::make_unique_for_overwrite<unsigned char[]>(m_chunkSize));
        m_chunkUsed = 0;
    }
    return m_chunks.back().get() + m_chunkUsed;
}

RecordSet::RowWriter RecordSet::appendRow(std::size_t maxBytes)
{
    return RowWriter(*this, reserve(maxBytes));
}

void RecordSet::RowWriter::putFixed(const void* bytes, std::size_t size)
{
    *m_at++ = 1;
    std::memcpy(m_at, bytes, size);
    m_at += size;
}

void RecordSet::RowWriter::putVariable(const void* bytes, std::uint32_t size)
{
    *m_at++ = 1;
    std::memcpy(m_at, &size, sizeof size);
    m_at += sizeof size;
    if (size)
        std::memcpy(m_at, bytes, size);
    m_at += size;
}

void RecordSet::RowWriter::finish()
{
    m_set.m_chunkUsed += std::size_t(m_at - m_start);
    m_set.m_rows.push_back(m_start);
}

const unsigned char* RecordSet::cell(qsizetype row, int column) const
{
    const unsigned char* at = m_rows[std::size_t(row)];
    for (int i = 0; i < column; ++i) {
        if (*at++ == 0)
            continue;
        const unsigned fixed = m_columns[std::size_t(i)].fixedSize;
        at += fixed ? fixed : sizeof(std::uint32_t) + load<std::uint32_t>(at);
    }
    return at;
}

QVariant RecordSet::value(qsizetype row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= int(m_columns.size()))
        return {};
    const unsigned char* at = cell(row, column);
    if (*at++ == 0)
        return {};
    const Column& info = m_columns[std::size_t(column)];
    const auto variable = [&] {
        const auto size = load<std::uint32_t>(at);
        return QByteArrayView(reinterpret_cast<const char*>(at + sizeof size), qsizetype(size));
    };
    switch (info.kind) {
    case ColumnKind::Text:
    case ColumnKind::TextBlob:
        return (info.noneCharset ? m_noneCodec : m_codec).decode(variable());
    case ColumnKind::Binary:
    case ColumnKind::BinaryBlob:
        return variable().toByteArray();
    case ColumnKind::Integer: {
        qint64 number = 0;
        switch (info.fixedSize) {
        case 2:
            number = load<qint16>(at);
            break;
        case 4:
            number = load<qint32>(at);
            break;
        default:
            number = load<qint64>(at);
            break;
        }
        if (info.scale == 0)
            return number;
        return scaledText(number, info.scale);
    }
    case ColumnKind::Float:
        return double(load<float>(at));
    case ColumnKind::Double:
        return load<double>(at);
    case ColumnKind::Date:
        return fromIscDate(load<qint32>(at));
    case ColumnKind::Time:
        return fromIscTime(load<quint32>(at));
    case ColumnKind::Timestamp:
        return QDateTime(fromIscDate(load<qint32>(at)), fromIscTime(load<quint32>(at + 4)));
    case ColumnKind::Boolean:
        return *at != 0;
    case ColumnKind::Other:
        break;
    }
    return {};
}

QVariant RecordSet::valuePrefix(qsizetype row, int column, qsizetype maxLength, bool* whole) const
{
    *whole = true;
    if (row < 0 || row >= rowCount() || column < 0 || column >= int(m_columns.size()))
        return {};
    const Column& info = m_columns[std::size_t(column)];
    if (info.kind != ColumnKind::Text && info.kind != ColumnKind::TextBlob)
        return value(row, column);
    const unsigned char* at = cell(row, column);
    if (*at++ == 0)
        return {};
    const auto size = load<std::uint32_t>(at);
    const auto* bytes = reinterpret_cast<const char*>(at + sizeof size);
    // No character set Firebird speaks takes more than 4 bytes for one character, so
    // this many bytes hold more than maxLength characters whenever the text goes on.
    const qsizetype enough = 4 * (maxLength + 1);
    // The same codec as value(), so the cut text never reads differently from the whole.
    const TextCodec& codec = info.noneCharset ? m_noneCodec : m_codec;
    QString text = codec.decode(QByteArrayView(bytes, std::min<qsizetype>(size, enough)));
    if (qsizetype(size) <= enough && text.size() <= maxLength)
        return text;
    *whole = false;
    qsizetype cut = std::min(maxLength, text.size());
    if (cut > 0 && text.at(cut - 1).isHighSurrogate())
        --cut;
    text.truncate(cut);
    return text;
}

} // namespace db
