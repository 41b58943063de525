// The in-memory list: its own connection, the statement that fills it, the rows it
// read, the grid's edits on them and the current row.
#pragma once

#include "db/RecordSet.h"
#include "db/SqlConnection.h"

#include <QObject>
#include <QVariant>
#include <optional>
#include <unordered_map>
#include <vector>

namespace db {

/// What a row holds against what was read. Deleted rows leave the list and are only
/// counted, since nothing ever sends them anywhere.
enum class RowState : std::uint8_t
{
    Unchanged,
    Modified,
    Inserted
};

enum class DataSetState
{
    Inactive,
    Browse,
    Edit,
    Insert
};

/// Rows are read whole when the list opens; afterwards everything is memory. The grid
/// may change, insert and delete rows here; none of it reaches the database, and
/// while any of it exists refresh() refuses to run, as re-reading would lose it.
///
/// Every change of the rows is announced before and after it happens, so that a Qt
/// model on top can bracket it exactly. Whatever is announced, every row counted then
/// can be read: a row about to go still holds its values, a row gone has left no trace.
class SimpleDataSet : public QObject
{
    Q_OBJECT
public:
    SimpleDataSet(const QString& componentName, ConnectionSettings connectionSettings,
                  QObject* parent = nullptr);
    ~SimpleDataSet() override;

    /// The list's own connection, never shared with any other component.
    SqlConnection& connection() { return m_connection; }
    const QString& commandText() const { return m_commandText; }
    void setCommandText(const QString& sql);
    /// The character set, as Firebird names it ("ISO8859_1", "SJIS_0208"), that text
    /// of character set NONE was written in; empty reads it as the list connection's
    /// own. Takes effect at the next reading of the rows.
    void setNoneTextCharSet(const QString& firebirdCharset) { m_noneTextCharSet = firebirdCharset; }

    bool active() const { return m_state != DataSetState::Inactive; }
    /// Opening runs the command on the connection (opening it if closed) and reads
    /// all rows; the first becomes current. On failure the list stays closed.
    void setActive(bool on);
    void open() { setActive(true); }
    void close() { setActive(false); }

    /// Stores or drops a pending row edit, refuses while changes exist, then reads
    /// the rows anew and keeps the current position where it can.
    void refresh();

    DataSetState state() const { return m_state; }
    qsizetype recordCount() const { return qsizetype(m_rows.size()); }
    /// -1 when the list is closed or empty.
    qsizetype currentRow() const { return m_current; }
    /// Posts a pending edit before it leaves the row, as the grid expects.
    void moveTo(qsizetype row);
    void first() { moveTo(0); }
    void prior() { moveTo(m_current - 1); }
    void next() { moveTo(m_current + 1); }
    void last() { moveTo(recordCount() - 1); }

    const std::vector<Column>& columns() const { return m_records.columns(); }
    int columnIndex(const QString& fieldName) const { return m_records.columnIndex(fieldName); }
    QVariant value(qsizetype row, int column) const;
    /// value() cut to its first `maxLength` UTF-16 units when it is longer text, with
    /// `*whole` false then. A row as read decodes only those characters' bytes, so a
    /// huge text costs no more to show than a short one.
    QVariant valuePrefix(qsizetype row, int column, qsizetype maxLength, bool* whole) const;
    RowState rowState(qsizetype row) const { return m_rows[std::size_t(row)].state; }

    /// Changes one cell of `row`, making it current and entering edit first. Returns
    /// false when the value does not fit the column's type.
    bool setValue(qsizetype row, int column, const QVariant& value);
    /// Inserts an empty row before the current one (or appends) and starts editing it.
    void insert();
    void append();
    /// Keeps the pending edit in memory when it changed anything, else drops it.
    void post();
    /// Drops the pending edit; a row being inserted goes away.
    void cancel();
    void deleteCurrent();
    /// Whether the pending edit of the current row has changed anything yet.
    bool modified() const { return m_pending && m_pending->changed; }
    bool hasChanges() const { return m_changedRows > 0 || m_deletedRows > 0; }

signals:
    void aboutToReset();
    void reset();
    void rowAboutToBeInserted(qsizetype row);
    void rowInserted(qsizetype row);
    void rowAboutToBeRemoved(qsizetype row);
    void rowRemoved(qsizetype row);
    void rowChanged(qsizetype row);
    void currentRowChanged(qsizetype current);
    void stateChanged();

private:
    struct RowRef
    {
        std::uint32_t id;
        RowState state;
    };
    struct PendingEdit
    {
        std::vector<QVariant> values;
        bool changed = false;
    };

    void requireActive() const;
    void readRows();
    void replaceRows(RecordSet records, qsizetype current);
    void setCurrent(qsizetype row);
    void setState(DataSetState state);
    void insertAt(qsizetype row);
    void removeRow(qsizetype row);
    std::vector<QVariant> rowValues(qsizetype row) const;
    std::optional<QVariant> convert(int column, const QVariant& value) const;

    SqlConnection m_connection;
    QString m_commandText;
    QString m_noneTextCharSet;
    RecordSet m_records;
    std::vector<RowRef> m_rows;
    /// Values of modified and inserted rows, by row id (ids past the record set's
    /// rows belong to inserted rows).
    std::unordered_map<std::uint32_t, std::vector<QVariant>> m_changedValues;
    std::uint32_t m_nextInsertedId = 0;
    std::optional<PendingEdit> m_pending; // on the current row while editing
    qsizetype m_current = -1;
    qsizetype m_changedRows = 0;
    qsizetype m_deletedRows = 0;
    DataSetState m_state = DataSetState::Inactive;
    bool m_removing = false; // between announcing a row's removal and its end
};

} // namespace db
