// A throw-away Firebird database holding USER_REGISTRY, on the private test server or
// on the embedded engine, removed again when the test is done with it.
#pragma once

#include "db/ListModel.h"
#include "db/SqlConnection.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace testsupport {

enum class Engine
{
    Server,
    Embedded
};

/// "localhost/PORT" of the server the test script started, or empty when the tests
/// run outside it.
QString serverAddress();
/// Skips (outside the test script) or fails (inside it) when no server was given.
/// Use as: if (!testsupport::requireServer()) return;
bool requireServer();
/// "localhost/PORT" of a second server of Firebird 4 or later, where the test script
/// could start one, or empty.
QString fb4ServerAddress();
/// Skips when no such server was given, or fails when the run requires one
/// (TW_TEST_REQUIRE_FB4). Use as: if (!testsupport::requireFb4Server()) return;
bool requireFb4Server();

class TestDatabase
{
public:
    /// Creates a fresh database of default character set `charset` and runs `setupSql`
    /// on it, one statement per list item, committed. Throws db::Error when that fails.
    explicit TestDatabase(Engine engine, const QStringList& setupSql = standardRegistry(),
                          const QString& charset = QStringLiteral("UTF8"));
    /// The same on the server at `server` ("localhost/PORT"); an empty one means the
    /// embedded engine.
    TestDatabase(const QString& server, const QStringList& setupSql,
                 const QString& charset = QStringLiteral("UTF8"));
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    /// What goes into "Database": "localhost/PORT:/path" or a plain path.
    const QString& address() const { return m_address; }
    const QString& filePath() const { return m_filePath; }

    /// Runs statements on an attachment of its own and commits each.
    void execute(const QStringList& statements) const;
    void execute(const QString& statement) const { execute(QStringList{statement}); }
    /// Every row of `query`, each cell as text ("<null>" for NULL).
    std::vector<QStringList> rows(const QString& query) const;
    QString scalar(const QString& query) const;
    /// "user_name=user_log_in" of every USER_REGISTRY row, ordered by name.
    QStringList loginStates() const;

    /// USER_REGISTRY with a few users, Japanese full names and mixed login states.
    static QStringList standardRegistry();

private:
    static QString newFilePath();
    void create(const QStringList& setupSql, const QString& charset);

    QString m_address;
    QString m_filePath;
};

/// The grid's three columns over USER_REGISTRY, as the window shows them.
std::vector<db::GridColumn> registryColumns();

/// The list connection's settings on `database` as SYSDBA, as the window fills them.
db::ConnectionSettings listSettings(const QString& database);

/// Writes a profile file with a FBDOCUMENTCONNECTION section of the given entries.
void writeProfile(const QString& path, const QStringList& entries);

} // namespace testsupport
