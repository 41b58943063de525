// Finds the ":name" parameter markers of a statement text.
#pragma once

#include <QString>
#include <QStringList>

namespace db {

/// A statement text as Firebird takes it: every ":name" marker replaced by "?", and
/// the names in the order they stand. Colons inside quoted literals, quoted names and
/// comments are left alone.
struct PositionalSql
{
    QString text;
    QStringList parameterNames;
};

PositionalSql toPositional(const QString& sql);

} // namespace db
