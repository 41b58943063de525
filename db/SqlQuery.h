// The statement component: a text of lines with ":name" markers, its parameters, and
// a forward-only result, run on one SqlConnection.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace db {

class SqlConnection;

enum class FieldType
{
    Unknown,
    String
};
enum class ParamDirection
{
    Unknown,
    Input
};

struct QueryParam
{
    QString name;
    FieldType dataType = FieldType::Unknown;
    ParamDirection direction = ParamDirection::Unknown;
    std::optional<QString> value; // unset binds NULL

    void setAsString(const QString& text)
    {
        dataType = FieldType::String;
        value = text;
    }
};

class QueryParams
{
public:
    void clear() { m_items.clear(); }
    QueryParam& createParam(FieldType type, const QString& name, ParamDirection direction);
    /// First parameter of that name, compared without regard to letter case.
    QueryParam* find(const QString& name);
    const std::vector<QueryParam>& items() const { return m_items; }
    qsizetype count() const { return static_cast<qsizetype>(m_items.size()); }

private:
    std::vector<QueryParam> m_items;
};

/// Every change of the text closes the statement and derives its parameter list anew
/// from the markers. Values are always bound, never pasted into the text. Each open()
/// or execSql() runs in a transaction of its own: execSql() commits as soon as the
/// statement completes; an open result keeps its transaction until close(). A failure
/// rolls back, so nothing is left half-done and no transaction stays open.
class SqlQuery : public QObject
{
    Q_OBJECT
public:
    SqlQuery(const QString& componentName, SqlConnection* connection, QObject* parent = nullptr);
    ~SqlQuery() override;

    const QStringList& sql() const { return m_sql; }
    void clearSql();
    void addSqlLine(const QString& line);
    void setSql(const QStringList& lines);

    QueryParams& params() { return m_params; }
    /// Throws db::ComponentError when the statement has no parameter of that name.
    QueryParam& paramByName(const QString& name);

    /// Runs the text and fetches the first row; opens the connection first when it is
    /// closed. Throws db::Error with fbclient's text.
    void open();
    void close();
    bool active() const;
    /// True when the open result holds no row (or nothing is open).
    bool isEmpty() const;

    /// Prepares the text, runs it with its bound parameters and commits at once, so
    /// that other attachments see the change. Throws db::Error with fbclient's text.
    void execSql();

private:
    struct Cursor;
    void textChanged();
    void noteFailure(long gdsCode);

    SqlConnection* m_connection;
    QStringList m_sql;
    QueryParams m_params;
    std::unique_ptr<Cursor> m_cursor;
};

} // namespace db
