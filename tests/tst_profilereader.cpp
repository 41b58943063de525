// Tests for the connection profile reader: decoding, line rules and file handling.
#include "db/Error.h"
#include "db/ProfileReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

namespace {

const QString Section = QStringLiteral("FBDocumentConnection");

// String literals with embedded NULs would be cut short by the const char* constructor.
template <qsizetype N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QByteArray utf16(const QString& text, bool bigEndian)
{
    QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8);
        const char lo = char(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo);
        out.append(bigEndian ? lo : hi);
    }
    return out;
}

QString withNul(const QString& before, const QString& after)
{
    return before + QChar(u'\0') + after;
}

std::optional<QString> readError(const QString& path)
{
    try {
        db::readProfileSection(path, Section);
    } catch (const db::Error& e) {
        return e.message();
    }
    return std::nullopt;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(content), content.size());
}

} // namespace

class TestProfileReader : public QObject
{
    Q_OBJECT

private slots:
    void encodings_data();
    void encodings();
    void lines_data();
    void lines();
    void malformedInput_data();
    void malformedInput();

    void missingFileNamesThePath();
    void directoryIsAnError();
    void unreadableFileIsAnError();
    void fileIsLeftUntouched();
    void largeFileIsRead();
};

void TestProfileReader::encodings_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("needsUtf8Locale");

    const QString japanese = QStringLiteral("[FBDocumentConnection]\r\n"
                                            "Database=localhost:/データ/文書.fdb\r\n"
                                            "役割=管理者\r\n");
    const QStringList japaneseEntries{QStringLiteral("Database=localhost:/データ/文書.fdb"),
                                      QStringLiteral("役割=管理者")};

    // A mark that is not dropped would sit in front of "[" and hide the section.
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF") + japanese.toUtf8() << japaneseEntries
                                << false;
    QTest::newRow("UTF-16LE mark") << utf16(japanese, false) << japaneseEntries << false;
    QTest::newRow("UTF-16BE mark") << utf16(japanese, true) << japaneseEntries << false;
    QTest::newRow("no mark, ASCII") << QByteArray("[FBDocumentConnection]\nDatabase=/db/x.fdb\n")
                                    << QStringList{"Database=/db/x.fdb"} << false;
    QTest::newRow("no mark, UTF-8 Japanese under a UTF-8 locale")
        << japanese.toUtf8() << japaneseEntries << true;
    QTest::newRow("UTF-8 mark alone") << QByteArray("\xEF\xBB\xBF") << QStringList{} << false;
    QTest::newRow("UTF-16LE mark alone") << QByteArray("\xFF\xFE") << QStringList{} << false;
    QTest::newRow("UTF-16BE mark alone") << QByteArray("\xFE\xFF") << QStringList{} << false;
}

void TestProfileReader::encodings()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    QFETCH(bool, needsUtf8Locale);

    if (needsUtf8Locale) {
        const QString probe = QStringLiteral("データ");
        QStringEncoder locale(QStringEncoder::System);
        if (QByteArray(locale.encode(probe)) != probe.toUtf8())
            QSKIP("the locale's encoding is not UTF-8");
    }
    QCOMPARE(db::parseProfileSection(content, Section), expected);
}

void TestProfileReader::lines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    const QStringList ab{"A=1", "B=2"};

    QTest::newRow("LF") << bytes("[FBDocumentConnection]\nA=1\nB=2\n") << ab;
    QTest::newRow("CR LF") << bytes("[FBDocumentConnection]\r\nA=1\r\nB=2\r\n") << ab;
    QTest::newRow("lone CR") << bytes("[FBDocumentConnection]\rA=1\rB=2\r") << ab;
    QTest::newRow("mixed") << bytes("[FBDocumentConnection]\r\nA=1\rB=2\nC=3\n\r")
                           << QStringList{"A=1", "B=2", "C=3"};
    QTest::newRow("no final line break") << bytes("[FBDocumentConnection]\nA=1\nB=2") << ab;
    QTest::newRow("blanks around name, = and value")
        << bytes("  [FBDocumentConnection]  \n"
                 "  Database  =  localhost:/db/x.fdb  \n"
                 "\tUser_Name\t=\tSYSDBA\t\n")
        << QStringList{"Database=localhost:/db/x.fdb", "User_Name=SYSDBA"};
    QTest::newRow("blanks inside a value stay")
        << bytes("[FBDocumentConnection]\nRole = Read Only \n") << QStringList{"Role=Read Only"};
    QTest::newRow("control characters stripped") << bytes("\x01[FBDocumentConnection]\x1F\n\x0B\x0C"
                                                          "A\x02=\x7F"
                                                          "1\x03\n")
                                                 << QStringList{QStringLiteral("A=\x7F"
                                                                               "1")};
    QTest::newRow("no-break space is not stripped")
        << bytes("\xEF\xBB\xBF[FBDocumentConnection]\nA=\xC2\xA0x\xC2\xA0\n")
        << QStringList{QStringLiteral("A=\u00A0x\u00A0")};
    QTest::newRow("value containing =")
        << bytes("[FBDocumentConnection]\nParams = a=b = c \n") << QStringList{"Params=a=b = c"};
    QTest::newRow("empty value and empty name")
        << bytes("[FBDocumentConnection]\nA =  \n = x\n") << QStringList{"A=", "=x"};
    QTest::newRow("lower-case header") << bytes("[fbdocumentconnection]\nA=1\nB=2\n") << ab;
    QTest::newRow("blanks inside brackets") << bytes("[ FBDOCUMENTCONNECTION\t]\nA=1\nB=2\n") << ab;
    QTest::newRow("comments inside the section")
        << bytes("[FBDocumentConnection]\n;Database=old\nA=1\n   ;B=0\n\t; note\nB=2\n") << ab;
    QTest::newRow("; after the first character is data")
        << bytes("[FBDocumentConnection]\nA=1;2\nB;=2\n") << QStringList{"A=1;2", "B;=2"};
    QTest::newRow("empty and blank lines")
        << bytes("[FBDocumentConnection]\n\n   \n\t\nA=1\n\n\nB=2\n") << ab;
    QTest::newRow("entries before and around the section")
        << bytes("A=0\nloose text\n[Other]\nA=9\n[FBDocumentConnection]\nA=1\nB=2\n"
                 "[Another]\nC=3\n")
        << ab;
    QTest::newRow("bare entries kept")
        << bytes("[FBDocumentConnection]\n  some bare\ttext  \nA=1\n[x\n")
        << QStringList{"some bare\ttext", "A=1", "[x"};
    QTest::newRow("missing section") << bytes("[Other]\nA=1\n") << QStringList{};
    QTest::newRow("header inside a comment is not a header")
        << bytes(";[FBDocumentConnection]\nA=1\n") << QStringList{};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("header only") << bytes("[FBDocumentConnection]") << QStringList{};
    QTest::newRow("duplicate section, first one used")
        << bytes("[FBDocumentConnection]\nA=1\nB=2\n[Other]\nC=3\n[fbDocumentConnection]\nD=4\n")
        << ab;
    QTest::newRow("duplicate section right after the first")
        << bytes("[FBDocumentConnection]\n[FBDocumentConnection]\nA=1\n") << QStringList{};
    QTest::newRow("NUL inside a line is kept")
        << bytes("[FBDocumentConnection]\nA=x\0y\nB\0C=2\n")
        << QStringList{withNul("A=x", "y"), withNul("B", "C=2")};
    QTest::newRow("NUL at the ends is stripped") << bytes("\0[FBDocumentConnection]\0\n\0A\0=\0"
                                                          "1\0\n")
                                                 << QStringList{"A=1"};
}

void TestProfileReader::lines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);

    QCOMPARE(db::parseProfileSection(content, Section), expected);
}

// Broken input has no single right reading; what matters is that the good lines before
// the damage still come through and nothing crashes.
void TestProfileReader::malformedInput_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("leadingEntries");
    QTest::addColumn<int>("maxEntries");

    const QString text = QStringLiteral("[FBDocumentConnection]\nA=1\nB=2\n");

    QTest::newRow("odd-length UTF-16LE")
        << utf16(text, false) + QByteArray("C") << QStringList{"A=1", "B=2"} << 3;
    QTest::newRow("odd-length UTF-16BE")
        << utf16(text, true) + QByteArray("C") << QStringList{"A=1", "B=2"} << 3;
    QTest::newRow("UTF-16LE mark plus one byte") << QByteArray("\xFF\xFE[") << QStringList{} << 0;
    QTest::newRow("invalid UTF-8 after a mark")
        << QByteArray("\xEF\xBB\xBF[FBDocumentConnection]\nA=1\nB=\xC3\x28\xFF\nC=3\n")
        << QStringList{"A=1"} << 3;
    QTest::newRow("truncated UTF-8 sequence at the end")
        << QByteArray("\xEF\xBB\xBF[FBDocumentConnection]\nA=1\nB=\xE3\x83") << QStringList{"A=1"}
        << 2;
}

void TestProfileReader::malformedInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, leadingEntries);
    QFETCH(int, maxEntries);

    const QStringList entries = db::parseProfileSection(content, Section);
    QCOMPARE(entries.first(qMin(entries.size(), leadingEntries.size())), leadingEntries);
    QVERIFY2(entries.size() <= maxEntries, qPrintable(entries.join(u'|')));
}

void TestProfileReader::missingFileNamesThePath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = QDir::toNativeSeparators(dir.filePath("absent/Connection.ini"));

    const std::optional<QString> error = readError(path);
    QVERIFY(error);
    QCOMPARE(*error,
             QStringLiteral("ドライバ/接続レジストリファイル '%1' が見つかりません").arg(path));
    QVERIFY(!QFileInfo::exists(dir.filePath("absent")));
}

void TestProfileReader::directoryIsAnError()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Connection.ini");
    QVERIFY(QDir().mkdir(path));

    const std::optional<QString> error = readError(path);
    QVERIFY(error);
    QVERIFY2(error->contains(path), qPrintable(*error));
    QVERIFY2(!error->contains(QStringLiteral("見つかりません")), qPrintable(*error));
}

void TestProfileReader::unreadableFileIsAnError()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Connection.ini");
    writeFile(path, "[FBDocumentConnection]\nA=1\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    {
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("permissions do not keep this user from reading (running as root?)");
    }

    const std::optional<QString> error = readError(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(error);
    QVERIFY2(error->contains(path), qPrintable(*error));
    QVERIFY2(!error->contains(QStringLiteral("見つかりません")), qPrintable(*error));
}

void TestProfileReader::fileIsLeftUntouched()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Connection.ini");
    const QByteArray content("[FBDocumentConnection]\r\n  Database = localhost:/db/x.fdb \r\n");
    writeFile(path, content);
    const QDateTime past = QDateTime::currentDateTimeUtc().addDays(-3).addMSecs(-250);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(past, QFileDevice::FileModificationTime));
    }
    const QDateTime before = QFileInfo(path).lastModified();

    QCOMPARE(db::readProfileSection(path, Section), QStringList{"Database=localhost:/db/x.fdb"});

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
    QCOMPARE(QFileInfo(path).lastModified(), before);
}

void TestProfileReader::largeFileIsRead()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Connection.ini");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray filler(1024 * 1024, 'x');
        filler[0] = ';';
        filler[filler.size() - 1] = '\n';
        for (int i = 0; i < 50; ++i)
            QCOMPARE(file.write(filler), filler.size());
        file.write("[FBDocumentConnection]\nDatabase=/db/x.fdb\n");
    }
    QVERIFY(QFileInfo(path).size() > 50 * 1024 * 1024);

    QCOMPARE(db::readProfileSection(path, Section), QStringList{"Database=/db/x.fdb"});
}

QTEST_GUILESS_MAIN(TestProfileReader)
#include "tst_profilereader.moc"
