// The data grid over the list.
#include "ui/DBGrid.h"

#include "boxes/HandlerBoundary.h"
#include "boxes/MessageBox.h"
#include "db/DataSource.h"
#include "db/SimpleDataSet.h"

#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QStyleOptionHeader>

namespace {

/// The column titles. Qt measures every title in bold, as a highlighted section would be
/// drawn; these titles are never highlighted, so they are measured in the font they are
/// drawn in, and the window needs no bold font to show itself.
class TitleHeader : public QHeaderView
{
public:
    explicit TitleHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        setSectionsClickable(true);
        setHighlightSections(false);
    }

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override
    {
        if (highlightSections())
            return QHeaderView::sectionSizeFromContents(logicalIndex);
        ensurePolished();
        const QAbstractItemModel* titles = model();
        const QVariant hint = titles->headerData(logicalIndex, orientation(), Qt::SizeHintRole);
        if (hint.isValid())
            return hint.toSize();
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.section = logicalIndex;
        const QVariant font = titles->headerData(logicalIndex, orientation(), Qt::FontRole);
        option.fontMetrics =
            QFontMetrics(font.canConvert<QFont>() ? qvariant_cast<QFont>(font) : this->font());
        option.text = titles->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
        const QVariant decoration =
            titles->headerData(logicalIndex, orientation(), Qt::DecorationRole);
        option.icon = qvariant_cast<QIcon>(decoration);
        if (option.icon.isNull())
            option.icon = qvariant_cast<QPixmap>(decoration);
        if (isSortIndicatorShown())
            option.sortIndicator = QStyleOptionHeader::SortDown;
        return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this);
    }
};

} // namespace

DBGrid::DBGrid(QWidget* parent) : QTableView(parent)
{
    setHorizontalHeader(new TitleHeader(this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    // A million rows must not be measured one by one.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumWidth(12);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
}

void DBGrid::setDataSource(db::DataSource* source, std::vector<db::GridColumn> columns)
{
    m_source = source;
    m_model = new db::ListModel(source, std::move(columns), this);
    setModel(m_model);
    for (int i = 0; i < int(m_model->gridColumns().size()); ++i)
        setColumnWidth(i, m_model->gridColumns()[std::size_t(i)].width);

    db::SimpleDataSet* list = source->dataSet();
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [list](const QModelIndex& current) {
                if (current.isValid())
                    list->moveTo(current.row());
            });
    connect(list, &db::SimpleDataSet::currentRowChanged, this, &DBGrid::followListRow);
    // A reset drops the view's current index; put it back on the list's current row.
    connect(m_model, &QAbstractItemModel::modelReset, this,
            [this, list] { followListRow(list->currentRow()); });
}

void DBGrid::followListRow(qsizetype row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const int column = std::max(currentIndex().column(), 0);
    if (currentIndex().row() != int(row))
        setCurrentIndex(m_model->index(int(row), column));
}

void DBGrid::commitOpenEditor()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    QWidget* editor = indexWidget(currentIndex());
    if (!editor)
        editor = focusWidget() != this ? focusWidget() : nullptr;
    if (editor) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void DBGrid::keyPressEvent(QKeyEvent* event)
{
    db::SimpleDataSet* list = m_source ? m_source->dataSet() : nullptr;
    if (!list || !list->active() || state() == QAbstractItemView::EditingState) {
        QTableView::keyPressEvent(event);
        return;
    }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const auto dataKey = [&](auto&& action) {
        runGuarded(action);
        event->accept();
    };
    switch (event->key()) {
    case Qt::Key_Insert:
        return dataKey([list] { list->insert(); });
    case Qt::Key_Delete:
        if (ctrl && list->recordCount() > 0) {
            return dataKey([list] {
                if (askConfirmation(QStringLiteral("レコードを削除しますか?")))
                    list->deleteCurrent();
            });
        }
        break;
    case Qt::Key_Escape:
        if (list->state() == db::DataSetState::Edit || list->state() == db::DataSetState::Insert)
            return dataKey([list] { list->cancel(); });
        break;
    case Qt::Key_Down:
        if (list->currentRow() == list->recordCount() - 1 && !ctrl) {
            // A new row nobody has typed into yet is not followed by another.
            if (list->state() != db::DataSetState::Insert || list->modified())
                return dataKey([list] { list->append(); });
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}
