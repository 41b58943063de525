// Reads one section of the connection profile (an INI-style file) into entries.
#pragma once

#include <QString>
#include <QStringList>

namespace db {

/// Reads `path` whole and returns the entries of the first section named `section`
/// (compared without regard to letter case), in file order. Entries with "=" come back
/// as "name=value" with both sides stripped; lines without "=" come back unchanged
/// (after stripping). A missing section yields an empty list. Lines before the first
/// section header belong to no section and are ignored.
///
/// Only the first section of that name is read; a later one with the same name is
/// ignored rather than merged, so what the operator sees first in the file is what the
/// program uses.
///
/// Decoding: UTF-8 / UTF-16LE / UTF-16BE by byte order mark, otherwise the locale's
/// encoding. Lines end with CR, LF or CR LF. Stripping removes every character at or
/// below U+0020 from both ends. Empty lines and lines starting with ";" are skipped.
///
/// Throws db::Error: "ドライバ/接続レジストリファイル '<path>' が見つかりません" when the
/// file does not exist; another message, naming the path and the reason, when it exists
/// but cannot be read (a directory, a FIFO or device, no permission, over 256 MiB).
/// Never writes the file.
QStringList readProfileSection(const QString& path, const QString& section);

/// The same rules applied to bytes already in memory (what readProfileSection uses).
QStringList parseProfileSection(const QByteArray& bytes, const QString& section);

} // namespace db
