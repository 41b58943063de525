// The grid's table model: a fixed set of columns over the in-memory list.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

namespace db {

class DataSource;
class SimpleDataSet;

/// One column the grid shows: the list's field it is bound to (matched without
/// regard to letter case), its title and width in pixels.
struct GridColumn
{
    QString fieldName;
    QString title;
    int width = 64;
};

/// Shows exactly the configured columns, whatever else the list holds; a column whose
/// field the list lacks stays empty and cannot be edited. The vertical header is the
/// row indicator: the current row, a row being edited, a row being inserted.
///
/// A text longer than kShownLength is shown cut, ending in "…", and cannot be edited
/// in the grid (a line editor could neither show nor keep it whole); the list itself
/// keeps it whole. Nothing here throws into Qt: a cell that cannot be read is empty.
class ListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    ListModel(DataSource* source, std::vector<GridColumn> columns, QObject* parent = nullptr);

    const std::vector<GridColumn>& gridColumns() const { return m_columns; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    static QString indicatorText(bool current, bool editing, bool inserting);
    /// UTF-16 units of a text that a cell shows at most.
    static constexpr qsizetype kShownLength = 2000;

private:
    bool isCell(const QModelIndex& index) const;
    QVariant readData(const QModelIndex& index, int role) const;
    QVariant readHeader(int section, Qt::Orientation orientation, int role) const;
    Qt::ItemFlags readFlags(const QModelIndex& index) const;
    void mapFields();
    void refreshIndicator(qsizetype current);

    DataSource* m_source;
    SimpleDataSet* m_dataSet;
    std::vector<GridColumn> m_columns;
    std::vector<int> m_fieldOfColumn; // list column per grid column, -1 when absent
    qsizetype m_indicatorRow = -1;
};

} // namespace db
