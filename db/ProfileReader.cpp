// Reads one section of the connection profile (an INI-style file) into entries.
#include "db/ProfileReader.h"

#include "db/Error.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace db {

namespace {

// A profile is a handful of lines. Anything this large is the wrong file, and reading
// it whole would only exhaust memory; the limit is still far above any real profile.
constexpr qint64 MaxProfileBytes = qint64(256) * 1024 * 1024;

// Blanks and control characters alike, so stray tabs, NULs or form feeds left by
// editors around a name or value never become part of it. QString::trimmed() is not
// used because it keeps most control characters and strips some non-ASCII spaces.
bool isStrippable(QChar c)
{
    return c.unicode() <= 0x20;
}

QStringView strip(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isStrippable(text[begin]))
        ++begin;
    while (end > begin && isStrippable(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QString decode(const QByteArray& bytes)
{
    QStringConverter::Encoding encoding = QStringConverter::System;
    qsizetype bomSize = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding = QStringConverter::Utf8;
        bomSize = 3;
    } else if (bytes.startsWith("\xFF\xFE")) {
        encoding = QStringConverter::Utf16LE;
        bomSize = 2;
    } else if (bytes.startsWith("\xFE\xFF")) {
        encoding = QStringConverter::Utf16BE;
        bomSize = 2;
    }
    // Exactly one mark is removed here; the decoder must not silently eat a second one.
    // Stateless makes a dangling half character come out as a replacement character
    // instead of vanishing into decoder state.
    QStringDecoder decoder(encoding, QStringConverter::Flag::ConvertInitialBom |
                                         QStringConverter::Flag::Stateless);
    return decoder.decode(QByteArrayView(bytes).sliced(bomSize));
}

} // namespace

QStringList parseProfileSection(const QByteArray& bytes, const QString& section)
{
    const QString text = decode(bytes);
    const QStringView all(text);

    QStringList entries;
    bool inSection = false;
    qsizetype pos = 0;
    while (pos < all.size()) {
        // CR and LF both end a line. A CR LF pair therefore yields an empty line in
        // between, which is skipped like any other empty line.
        qsizetype end = pos;
        while (end < all.size() && all[end] != QLatin1Char('\r') && all[end] != QLatin1Char('\n'))
            ++end;
        const QStringView line = strip(all.sliced(pos, end - pos));
        pos = end + 1;

        if (line.isEmpty() || line.front() == QLatin1Char(';'))
            continue;

        if (line.size() >= 2 && line.front() == QLatin1Char('[') &&
            line.back() == QLatin1Char(']')) {
            if (inSection)
                break; // Only the first section of that name counts; the rest is ignored.
            inSection =
                strip(line.sliced(1, line.size() - 2)).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }

        if (!inSection)
            continue;

        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            entries.append(line.toString());
            continue;
        }
        const QStringView name = strip(line.first(eq));
        const QStringView value = strip(line.sliced(eq + 1));
        QString entry;
        entry.reserve(name.size() + 1 + value.size());
        entry.append(name).append(QLatin1Char('=')).append(value);
        entries.append(entry);
    }
    return entries;
}

QStringList readProfileSection(const QString& path, const QString& section)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        throw Error(
            QStringLiteral("ドライバ/接続レジストリファイル '%1' が見つかりません").arg(path));
    }

    QFile file(path);
    // A FIFO would block the opening until someone writes to it, and a device such as
    // /dev/zero never ends; neither is opened, so that "①接続" cannot hang on them.
    const bool special = !info.isDir() && !info.isFile();
    if (info.isDir() || special || !file.open(QIODevice::ReadOnly)) {
        // Some systems call a directory "access denied"; naming the real cause spares the
        // operator a hunt through permissions.
        const QString reason = info.isDir() ? QStringLiteral("ディレクトリです")
                               : special ? QStringLiteral("通常のファイルではありません")
                                         : file.errorString();
        throw Error(QStringLiteral("ドライバ/接続レジストリファイル '%1' を開けません: %2")
                        .arg(path, reason));
    }

    if (file.size() > MaxProfileBytes) {
        throw Error(
            QStringLiteral("ドライバ/接続レジストリファイル '%1' が大きすぎます (%2 バイト)")
                .arg(path, QString::number(file.size())));
    }

    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw Error(QStringLiteral("ドライバ/接続レジストリファイル '%1' を読み込めません: %2")
                        .arg(path, file.errorString()));
    }
    return parseProfileSection(bytes, section);
}

} // namespace db
