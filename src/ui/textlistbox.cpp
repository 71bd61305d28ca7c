#include "ui/textlistbox.h"

#include <QEvent>
#include <QFontMetrics>
#include <QScrollBar>

TTextListBox::TTextListBox(QWidget *parent) : QListWidget(parent)
{
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QAbstractItemModel *m = model();
    connect(m, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                for (int i = first; i <= last; ++i)
                    m_maxWidth = qMax(m_maxWidth, ItemWidth(i));
                applyExtent();
            });
    // Removing the widest item narrows the range; anything narrower leaves it as it is.
    connect(m, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                for (int i = first; i <= last && !m_recalcAfterRemove; ++i)
                    if (ItemWidth(i) >= m_maxWidth)
                        m_recalcAfterRemove = true;
                if (m_recalcAfterRemove)
                    scrollFullyLeft();
            });
    connect(m, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!m_recalcAfterRemove)
            return;
        m_recalcAfterRemove = false;
        RecalcMaxWidth();
    });
    connect(m, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_maxWidth = 0;
        applyExtent();
        scrollFullyLeft();
    });
    connect(m, &QAbstractItemModel::modelReset, this, &TTextListBox::RecalcMaxWidth);
    // A renamed item may be wider or narrower than before.
    connect(m, &QAbstractItemModel::dataChanged, this, &TTextListBox::RecalcMaxWidth);
}

// The item model outlives this part of the object and resets itself while the view is torn
// down; its signals must no longer reach here.
TTextListBox::~TTextListBox()
{
    disconnect(model(), nullptr, this, nullptr);
}

int TTextListBox::TextWidth(const QString &text) const
{
    const QFontMetrics fm(font());
    const QString measured = text + QLatin1Char('x');
    if (m_tabWidth <= 0)
        return fm.horizontalAdvance(measured);
    const int tabStop = qRound(fm.horizontalAdvance(QLatin1Char('0')) * m_tabWidth / 4.0);
    return fm.size(Qt::TextSingleLine | Qt::TextExpandTabs, measured, tabStop).width();
}

int TTextListBox::ItemWidth(int index) const
{
    const QListWidgetItem *it = item(index);
    return it ? TextWidth(it->text()) : 0;
}

void TTextListBox::SetTabWidth(int tabWidth)
{
    if (tabWidth == m_tabWidth)
        return;
    m_tabWidth = tabWidth;
    RecalcMaxWidth();
}

void TTextListBox::RecalcMaxWidth()
{
    int widest = 0;
    for (int i = 0, n = count(); i < n; ++i)
        widest = qMax(widest, ItemWidth(i));
    m_maxWidth = widest;
    applyExtent();
}

void TTextListBox::changeEvent(QEvent *event)
{
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        RecalcMaxWidth();
}

// The view recomputes its own scroll ranges on every layout; the extent of the widest item
// takes their place.
void TTextListBox::updateGeometries()
{
    QListWidget::updateGeometries();
    applyExtent();
}

void TTextListBox::applyExtent()
{
    QScrollBar *bar = horizontalScrollBar();
    const int visible = viewport()->width();
    bar->setPageStep(visible);
    bar->setRange(0, qMax(0, m_maxWidth - visible));
}

void TTextListBox::scrollFullyLeft()
{
    horizontalScrollBar()->setValue(0);
}
