// The statement component: a text of lines with ":name" markers, its parameters, and
// a forward-only result, run on one SqlConnection.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
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
/// from the markers. Values are always bound, never pasted into the text, and always
/// sent whole: a value the connection's character set cannot carry, or longer than any
/// text parameter may be, is never replaced by a substitute or cut to fit.
///
/// Each open() or execSql() runs in a transaction of its own that ends before the call
/// returns: execSql() commits as soon as the statement completes; open() reads what it
/// keeps (whether a first row came) and commits, so an open result holds nothing on the
/// server. A failure rolls back, so nothing is left half-done and no transaction stays
/// open.
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
    ///
    /// Meant for lookups by equality: a parameter value that no stored text can equal
    /// gives an empty result instead of an error. That is a value the connection cannot
    /// carry (never sent at all), and one the server finds longer than the text it is
    /// compared with once trailing blanks are set aside (string truncation).
    void open();
    void close();
    bool active() const;
    /// True when the open result holds no row (or nothing is open).
    bool isEmpty() const;

    /// Prepares the text, runs it with its bound parameters and commits at once, so
    /// that other attachments see the change. Throws db::Error with fbclient's text,
    /// and db::ComponentError, sending nothing, for a value that cannot be sent whole.
    void execSql();

private:
    void textChanged();
    void noteFailure(long gdsCode);

    SqlConnection* m_connection;
    QStringList m_sql;
    QueryParams m_params;
    bool m_active = false;
    bool m_hasRow = false;
};

} // namespace db
