// Fuzz target for the profile reader: arbitrary bytes go in, and what comes out must obey
// the reader's rules whatever the file looked like. Also checks that re-encoding, other
// line ends, extra sections around the text and the header's letter case change nothing.
#include "FuzzCheck.h"
#include "db/ProfileReader.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace {

// The real section, and a short one that mutations find easily.
const QString Sections[] = {QStringLiteral("FBDocumentConnection"), QStringLiteral("s")};

bool isStrippable(QChar c)
{
    return c.unicode() <= 0x20;
}

QString show(const QStringList& entries)
{
    QStringList shown;
    for (const QString& entry : entries) {
        QString escaped;
        for (const QChar c : entry) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7E)
                escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                escaped += c;
        }
        shown << QLatin1Char('"') + escaped + QLatin1Char('"');
    }
    return QLatin1Char('[') + shown.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString differ(const QStringList& expected, const QStringList& actual)
{
    return show(expected) + QStringLiteral(" vs ") + show(actual);
}

void checkEntries(const QStringList& entries)
{
    for (const QString& entry : entries) {
        TW_FUZZ_CHECK(!entry.isEmpty(), show(entries));
        TW_FUZZ_CHECK(!isStrippable(entry.front()) && !isStrippable(entry.back()), show(entries));
        TW_FUZZ_CHECK(entry.front() != QLatin1Char(';'), show(entries));
        TW_FUZZ_CHECK(!entry.contains(QLatin1Char('\r')) && !entry.contains(QLatin1Char('\n')),
                      show(entries));
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq < 0) {
            // A bare line shaped like "[...]" is a header, never an entry.
            TW_FUZZ_CHECK(!(entry.size() >= 2 && entry.front() == QLatin1Char('[') &&
                            entry.back() == QLatin1Char(']')),
                          show(entries));
        } else {
            // Name and value are stripped each, so nothing blank touches the first "=".
            TW_FUZZ_CHECK(eq == 0 || !isStrippable(entry[eq - 1]), show(entries));
            TW_FUZZ_CHECK(eq == entry.size() - 1 || !isStrippable(entry[eq + 1]), show(entries));
        }
    }
}

QByteArray utf16(const QString& text, bool bigEndian)
{
    QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    out.reserve(2 + 2 * text.size());
    for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8);
        const char lo = char(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo);
        out.append(bigEndian ? lo : hi);
    }
    return out;
}

bool hasMark(const QByteArray& bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
           bytes.startsWith("\xFE\xFF");
}

// The text of bytes read as UTF-8, with a second mark kept as a character (the reader
// removes exactly one) and a broken sequence kept as replacement characters.
QString utf8Text(const QByteArray& bytes, bool* clean)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                       QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    *clean = !decoder.hasError() && !text.contains(QChar::ReplacementCharacter);
    return text;
}

void checkSection(const QByteArray& bytes, const QString& section)
{
    const QStringList entries = db::parseProfileSection(bytes, section);
    checkEntries(entries);

    // The header is found whatever the letter case of the name asked for.
    TW_FUZZ_CHECK(db::parseProfileSection(bytes, section.toUpper()) == entries,
                  differ(entries, db::parseProfileSection(bytes, section.toUpper())));
    TW_FUZZ_CHECK(db::parseProfileSection(bytes, section.toLower()) == entries,
                  differ(entries, db::parseProfileSection(bytes, section.toLower())));

    // The same text behind each of the three marks reads the same.
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
    bool clean = false;
    const QString text = utf8Text(body, &clean);
    const QStringList viaUtf8 = db::parseProfileSection("\xEF\xBB\xBF" + body, section);
    const QStringList viaLe = db::parseProfileSection(utf16(text, false), section);
    const QStringList viaBe = db::parseProfileSection(utf16(text, true), section);
    TW_FUZZ_CHECK(viaLe == viaUtf8, differ(viaUtf8, viaLe));
    TW_FUZZ_CHECK(viaBe == viaUtf8, differ(viaUtf8, viaBe));

    // What follows needs byte edits that cannot split a character, so clean UTF-8 only
    // (which is also what a file without a mark is read as here).
    const bool utf8 = bytes.startsWith("\xEF\xBB\xBF") || !hasMark(bytes);
    if (!utf8 || !clean)
        return;
    const QByteArray mark = bytes.startsWith("\xEF\xBB\xBF") ? QByteArray("\xEF\xBB\xBF") : "";

    // LF and CR LF line ends read alike.
    QByteArray crlf = body;
    crlf.replace("\n", "\r\n");
    TW_FUZZ_CHECK(db::parseProfileSection(mark + crlf, section) == entries,
                  differ(entries, db::parseProfileSection(mark + crlf, section)));

    // Another section before or after the text takes nothing away and adds nothing.
    const QByteArray other("[tw fuzz other]\nA=1\nbare\n");
    const QByteArray before = mark + other + body;
    TW_FUZZ_CHECK(db::parseProfileSection(before, section) == entries,
                  differ(entries, db::parseProfileSection(before, section)));
    const QByteArray after = mark + body + "\n" + other;
    TW_FUZZ_CHECK(db::parseProfileSection(after, section) == entries,
                  differ(entries, db::parseProfileSection(after, section)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QString& section : Sections)
        checkSection(bytes, section);
    return 0;
}
