// The view of TDataSetGrid (the model is in datasetgrid.cpp): selection that follows the dataset,
// and columns that can be read.
#include "admin/datasetgrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QPalette>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

// Rows measured for the widths of the columns: enough for the rows in view and well beyond, few
// enough that a list of thousands of rows loads as fast as a short one.
constexpr int kMeasuredRows = 200;
// No column wants more than this many average characters: one long value must not push the
// others out of view.
constexpr int kMostChars = 64;
// The main column keeps at least this many average characters (or its whole text, when shorter)
// when the others need the width.
constexpr int kLeastMainChars = 16;

// Shows the whole text of a cell as its tooltip when the cell cuts it.
class TCutTextDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (!event || !view || event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        if (sizeHint(option, index).width() > option.rect.width()) {
            QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(),
                               view->viewport(), option.rect);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
};

} // namespace

TDataSetGrid::TDataSetGrid(QWidget *parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    // One line per row: a long name is cut (its tooltip holds it whole), never wrapped.
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().lineSpacing() + 6);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setTextElideMode(Qt::ElideRight);
    setItemDelegate(new TCutTextDelegate(this));
    // The selection stays visible when the grid loses the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

void TDataSetGrid::SetDataSetModel(TDataSetModel *model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    disconnect(m_selectionFollow);
    m_model = model;
    setModel(model);
    m_wanted.clear();
    m_stale = true;
    if (!model)
        return;
    connect(model, &TDataSetModel::CurrentRowChanged, this, [this] { selectCurrent(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { rowsLoaded(); });
    m_selectionFollow = connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                                [this](const QModelIndex &current) {
                                    if (m_model && current.isValid())
                                        m_model->SetCurrentRow(current.row());
                                });
    rowsLoaded();
    selectCurrent();
}

void TDataSetGrid::SetMainColumn(int column)
{
    m_mainColumn = column;
    layOutColumns();
}

void TDataSetGrid::selectCurrent()
{
    if (!m_model || !selectionModel())
        return;
    const int row = m_model->CurrentRow();
    if (row < 0) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

void TDataSetGrid::rowsLoaded()
{
    m_stale = true;
    // A grid out of sight (a page of the wizard not shown) is measured when it comes into view.
    if (!isVisible())
        return;
    measureColumns();
    layOutColumns();
}

void TDataSetGrid::showEvent(QShowEvent *event)
{
    QTableView::showEvent(event);
    if (m_stale)
        measureColumns();
    layOutColumns();
}

void TDataSetGrid::resizeEvent(QResizeEvent *event)
{
    // Called when the viewport has its new size.
    QTableView::resizeEvent(event);
    layOutColumns();
}

void TDataSetGrid::measureColumns()
{
    m_stale = false;
    m_wanted.clear();
    m_least.clear();
    if (!m_model)
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QFontMetrics metrics(option.font);
    const int most = metrics.averageCharWidth() * kMostChars;
    const int grid = showGrid() ? 1 : 0;
    const int rows = qMin(m_model->rowCount(), kMeasuredRows);
    for (int c = 0; c < m_model->columnCount(); ++c) {
        // The widest text found by its advance alone; the delegate measures only that cell, as
        // it would draw it.
        int widest = -1;
        int widestRow = -1;
        for (int r = 0; r < rows; ++r) {
            const int w = metrics.horizontalAdvance(m_model->index(r, c).data().toString());
            if (w > widest) {
                widest = w;
                widestRow = r;
            }
        }
        const int content =
            widestRow < 0
                ? 0
                : itemDelegate()->sizeHint(option, m_model->index(widestRow, c)).width() + grid;
        const int caption = horizontalHeader()->sectionSizeHint(c);
        m_least << caption;
        m_wanted << qMax(caption, qMin(content, most));
    }
}

void TDataSetGrid::layOutColumns()
{
    if (m_laying || !m_model || m_wanted.size() != m_model->columnCount())
        return;
    m_laying = true;
    const int columns = static_cast<int>(m_wanted.size());
    const int main = m_mainColumn >= 0 && m_mainColumn < columns ? m_mainColumn : -1;
    int others = 0;
    for (int c = 0; c < columns; ++c) {
        if (c == main)
            continue;
        setColumnWidth(c, m_wanted.at(c));
        others += m_wanted.at(c);
    }
    if (main >= 0) {
        const int least =
            qMax(m_least.at(main),
                 qMin(m_wanted.at(main), fontMetrics().averageCharWidth() * kLeastMainChars));
        setColumnWidth(main, qMax(least, viewport()->width() - others));
    }
    m_laying = false;
}

int TDataSetGrid::FittedWidth()
{
    if (m_stale)
        measureColumns();
    int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    for (const int w : std::as_const(m_wanted))
        width += w;
    return width;
}
