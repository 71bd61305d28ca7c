#include "ui/stickingbevel.h"

#include "core/errors.h"
#include "core/strconst.h"

#include <QEvent>
#include <QPainter>
#include <QSplitter>
#include <algorithm>

TStickingBevel::TStickingBevel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Bevel"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    resize(100, 100);
}

TStickingBevel::~TStickingBevel()
{
    unstick();
}

void TStickingBevel::SetStickTo(QWidget *target)
{
    if (target == m_target)
        return;
    if (qobject_cast<TStickingBevel *>(target))
        throw Exception(StrConst::BevelOnBevel);
    if (!target) {
        unstick();
        return;
    }
    QWidget *parent = target->parentWidget();
    // A splitter makes every child a pane of its own: the frame lies over it, in its parent.
    while (qobject_cast<QSplitter *>(parent))
        parent = parent->parentWidget();
    if (!parent)
        return;
    const auto siblings = parent->findChildren<TStickingBevel *>(Qt::FindDirectChildrenOnly);
    for (const TStickingBevel *other : siblings)
        if (other != this && other->m_target == target)
            throw Exception(StrConst::BevelTwice);

    unstick();
    m_target = target;
    // The target and the splitters between it and the frame's parent move it.
    for (QWidget *w = target; w && w != parent; w = w->parentWidget()) {
        w->installEventFilter(this);
        m_watched << w;
    }
    m_destroyedConnection =
        connect(target, &QObject::destroyed, this, &TStickingBevel::targetDestroyed);
    if (parentWidget() != parent) {
        // Reparenting hides a widget; whoever showed the bevel expects it to stay shown.
        const bool shown = !isHidden();
        setParent(parent);
        setVisible(shown);
    }
    raise();
    placeAroundTarget();
}

void TStickingBevel::unstick()
{
    if (m_target)
        disconnect(m_destroyedConnection);
    for (const QPointer<QWidget> &w : std::as_const(m_watched))
        if (w)
            w->removeEventFilter(this);
    m_watched.clear();
    m_target = nullptr;
}

void TStickingBevel::targetDestroyed()
{
    // The target's own destructor is running: it no longer has a filter to give back.
    disconnect(m_destroyedConnection);
    m_target = nullptr;
    for (const QPointer<QWidget> &w : std::as_const(m_watched))
        if (w)
            w->removeEventFilter(this);
    m_watched.clear();
}

void TStickingBevel::SetColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TStickingBevel::SetSpacing(int spacing)
{
    spacing = std::max(spacing, 0);
    if (spacing == m_spacing)
        return;
    m_spacing = spacing;
    placeAroundTarget();
}

void TStickingBevel::SetWeightOfLine(int weight)
{
    weight = std::max(weight, 1);
    if (weight == m_weightOfLine)
        return;
    m_weightOfLine = weight;
    placeAroundTarget();
}

void TStickingBevel::placeAroundTarget()
{
    if (!m_target)
        return;
    const int d = m_weightOfLine + m_spacing;
    const QWidget *parent = parentWidget();
    const QRect around = parent && m_target->parentWidget() != parent
                             ? QRect(m_target->mapTo(parent, QPoint(0, 0)), m_target->size())
                             : m_target->geometry();
    setGeometry(around.adjusted(-d, -d, d, d));
}

bool TStickingBevel::eventFilter(QObject *watched, QEvent *event)
{
    if (m_target && (event->type() == QEvent::Move || event->type() == QEvent::Resize) &&
        std::any_of(m_watched.cbegin(), m_watched.cend(),
                    [watched](const QPointer<QWidget> &w) { return w.data() == watched; }))
        placeAroundTarget();
    return false;
}

void TStickingBevel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(m_color, 1));
    painter.setBrush(Qt::NoBrush);
    QRect r = rect();
    for (int i = 0; i < m_weightOfLine && r.width() > 0 && r.height() > 0; ++i) {
        // A one-pixel pen draws one pixel beyond the rectangle's right and bottom edges.
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
}

void TStickingBevel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeAroundTarget();
}
