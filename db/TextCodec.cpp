// Converts between QString and the bytes of a Firebird connection character set.
#include "db/TextCodec.h"

#include <array>
#include <utility>

namespace db {

QByteArray qtCodecName(const QString& firebirdCharset)
{
    static constexpr std::array<std::pair<const char*, const char*>, 20> names{{
        {"UTF8", "UTF-8"},
        {"UNICODE_FSS", "UTF-8"},
        {"SJIS_0208", "Shift_JIS"},
        {"EUCJ_0208", "EUC-JP"},
        {"ISO8859_1", "ISO-8859-1"},
        {"ISO8859_2", "ISO-8859-2"},
        {"ISO8859_15", "ISO-8859-15"},
        {"WIN1250", "windows-1250"},
        {"WIN1251", "windows-1251"},
        {"WIN1252", "windows-1252"},
        {"WIN1253", "windows-1253"},
        {"WIN1254", "windows-1254"},
        {"WIN1257", "windows-1257"},
        {"KOI8R", "KOI8-R"},
        {"KOI8U", "KOI8-U"},
        {"GB_2312", "GB2312"},
        {"GBK", "GBK"},
        {"BIG_5", "Big5"},
        {"KSC_5601", "EUC-KR"},
        {"ASCII", "US-ASCII"},
    }};
    const QString wanted = firebirdCharset.trimmed().toUpper();
    for (const auto& [firebird, qt] : names) {
        if (wanted == QLatin1String(firebird))
            return qt;
    }
    return {};
}

TextCodec::TextCodec(const QString& firebirdCharset) : m_qtName(qtCodecName(firebirdCharset))
{
    m_utf8 = m_qtName == "UTF-8";
}

QByteArray TextCodec::encode(QStringView text) const
{
    if (m_utf8)
        return text.toUtf8();
    QStringEncoder encoder = m_qtName.isEmpty() ? QStringEncoder(QStringEncoder::System)
                                                : QStringEncoder(m_qtName.constData());
    if (!encoder.isValid())
        return text.toUtf8();
    return encoder.encode(text);
}

bool TextCodec::canEncode(QStringView text) const
{
    if (m_utf8)
        return text.isValidUtf16();
    QStringEncoder encoder = m_qtName.isEmpty() ? QStringEncoder(QStringEncoder::System)
                                                : QStringEncoder(m_qtName.constData());
    if (!encoder.isValid())
        return text.isValidUtf16(); // encode() falls back to UTF-8
    [[maybe_unused]] const QByteArray encoded = encoder.encode(text);
    return !encoder.hasError();
}

QString TextCodec::decode(QByteArrayView bytes) const
{
    if (m_utf8)
        return QString::fromUtf8(bytes);
    QStringDecoder decoder = m_qtName.isEmpty() ? QStringDecoder(QStringDecoder::System)
                                                : QStringDecoder(m_qtName.constData());
    if (!decoder.isValid())
        return QString::fromUtf8(bytes);
    return decoder.decode(bytes);
}

} // namespace db
