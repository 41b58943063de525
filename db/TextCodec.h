// Converts between QString and the bytes of a Firebird connection character set.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace db {

/// Text as it travels on one attachment. UTF8 (the default) takes a fast path; other
/// Firebird character sets map to the codecs Qt knows; NONE and OCTETS use the
/// locale's encoding, as other tools on the same desktop would.
///
/// Decoding never fails. Under UTF8, each byte that is not part of a valid UTF-8
/// sequence (a Latin-1 "é", half of a Shift-JIS pair, a cut-off sequence) is shown as
/// one U+FFFD and the valid text around it as it is, so that the operator sees where
/// the bytes are not UTF-8 and how many there are.
class TextCodec
{
public:
    explicit TextCodec(const QString& firebirdCharset = QStringLiteral("UTF8"));

    QByteArray encode(QStringView text) const;
    /// Whether encode() carries every character of `text` as it is: false for broken
    /// UTF-16 and for characters the character set lacks, which would otherwise arrive
    /// as a substitute such as "?".
    bool canEncode(QStringView text) const;
    QString decode(QByteArrayView bytes) const;
    bool isUtf8() const { return m_utf8; }

private:
    bool m_utf8 = true;
    QByteArray m_qtName;
};

/// Qt's name for a Firebird character set ("SJIS_0208" -> "Shift_JIS"); empty when
/// the locale's encoding should be used.
QByteArray qtCodecName(const QString& firebirdCharset);

} // namespace db
