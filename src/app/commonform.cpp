#include "app/commonform.h"

#include "core/appinfo.h"
#include "core/errors.h"
#include "ui/dialogs.h"
#include "ui/stickingbevel.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QSplitter>
#include <QWidget>

namespace {

std::function<QString()> &screenKeySource()
{
    static std::function<QString()> source;
    return source;
}

QString realScreenKey(const QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QStringLiteral("0x0");
    const QSize size = screen->size();
    return QString::number(size.width()) + QLatin1Char('x') + QString::number(size.height());
}

bool isTabStop(const QWidget *w)
{
    return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

bool isAncestorOf(const QObject *ancestor, const QObject *child)
{
    for (const QObject *o = child; o; o = o->parent())
        if (o == ancestor)
            return true;
    return false;
}

} // namespace

void TCommonForm::SetScreenKeySource(std::function<QString()> source)
{
    screenKeySource() = std::move(source);
}

TCommonForm::TCommonForm(QWidget *window, TIniFile *ini)
    : QObject(window), m_window(window), m_ini(ini),
      m_screenKey(screenKeySource() ? screenKeySource()() : realScreenKey(window)),
      m_bevel(new TStickingBevel(window))
{
    setObjectName(QStringLiteral("CommonForm"));
    m_bevel->SetWeightOfLine(2);
    m_bevel->SetColor(QColor(0, 0, 128));
    m_bevel->SetSpacing(1);
    m_bevel->hide();
    // Keys must be seen before the focused control sees them, wherever it sits in the window.
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { focusChanged(now); });
}

TCommonForm::~TCommonForm() = default;

TIniFile *TCommonForm::ini() const
{
    return m_ini ? m_ini : AppInfo;
}

void TCommonForm::LoadPlacement()
{
    TIniFile *file = ini();
    if (!file)
        return;
    const QString name = m_window->objectName();
    // Each value is applied before the next is read: the defaults are the current values.
    const int width =
        file->ReadInteger(m_screenKey, name + QLatin1String("_width"), m_window->width());
    if (width != m_window->width())
        m_window->resize(width, m_window->height());
    const int height =
        file->ReadInteger(m_screenKey, name + QLatin1String("_height"), m_window->height());
    if (height != m_window->height())
        m_window->resize(m_window->width(), height);
    const int left = file->ReadInteger(m_screenKey, name + QLatin1String("_left"), m_window->x());
    if (left != m_window->x())
        m_window->move(left, m_window->y());
    const int top = file->ReadInteger(m_screenKey, name + QLatin1String("_top"), m_window->y());
    if (top != m_window->y())
        m_window->move(m_window->x(), top);
    // A named splitter's panes, as "size,size,...", when the count still fits.
    for (QSplitter *splitter : m_window->findChildren<QSplitter *>()) {
        if (splitter->objectName().isEmpty())
            continue;
        const QStringList stored =
            file->ReadString(m_screenKey, name + QLatin1Char('_') + splitter->objectName(), {})
                .split(QLatin1Char(','), Qt::SkipEmptyParts);
        QList<int> sizes;
        for (const QString &size : stored)
            if (const int n = size.toInt(); n > 0)
                sizes << n;
        if (sizes.size() == splitter->count() && sizes.size() == stored.size())
            splitter->setSizes(sizes);
    }
}

void TCommonForm::SavePlacement()
{
    TIniFile *file = ini();
    if (!file)
        return;
    const QString name = m_window->objectName();
    file->WriteInteger(m_screenKey, name + QLatin1String("_width"), m_window->width());
    file->WriteInteger(m_screenKey, name + QLatin1String("_height"), m_window->height());
    file->WriteInteger(m_screenKey, name + QLatin1String("_left"), m_window->x());
    file->WriteInteger(m_screenKey, name + QLatin1String("_top"), m_window->y());
    for (const QSplitter *splitter : m_window->findChildren<QSplitter *>()) {
        if (splitter->objectName().isEmpty())
            continue;
        QStringList sizes;
        for (int size : splitter->sizes())
            sizes << QString::number(size);
        file->WriteString(m_screenKey, name + QLatin1Char('_') + splitter->objectName(),
                          sizes.join(QLatin1Char(',')));
    }
}

void TCommonForm::FocusNext()
{
    moveFocus(true);
}

void TCommonForm::FocusPrevious()
{
    moveFocus(false);
}

void TCommonForm::moveFocus(bool forward)
{
    QWidget *start = m_window->focusWidget();
    if (!start)
        start = m_window;
    QWidget *w = start;
    for (;;) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == start)
            return;
        if (w != m_window && w->window() == m_window && isTabStop(w) && w->isEnabled() &&
            w->isVisibleTo(m_window) && !w->focusProxy()) {
            w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return;
        }
    }
}

bool TCommonForm::keyDown(QKeyEvent *event)
{
    // The focus keys are consumed: a button would otherwise move the focus a second time on an
    // arrow key, and a dialog press its default button on Enter.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Down:
        FocusNext();
        return true;
    case Qt::Key_Up:
        FocusPrevious();
        return true;
    case Qt::Key_Escape:
        // Only a dialog has a result to give; Esc in the main window does nothing.
        if (auto *dialog = qobject_cast<QDialog *>(m_window)) {
            dialog->reject();
            return true;
        }
        break;
    default:
        break;
    }
    return m_keyHandler && m_keyHandler(event);
}

bool TCommonForm::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        if (watched == m_window && !event->spontaneous())
            LoadPlacement();
        break;
    case QEvent::Hide:
        if (watched == m_window && !event->spontaneous()) {
            try {
                SavePlacement();
            } catch (const std::exception &e) {
                ShowError(e);
            }
        }
        break;
    case QEvent::KeyRelease:
        m_lastKey = nullptr;
        break;
    case QEvent::KeyPress: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || widget->window() != m_window)
            break;
        if (event == m_lastKey && m_lastKeyReceiver && isAncestorOf(watched, m_lastKeyReceiver))
            break;
        m_lastKey = event;
        m_lastKeyReceiver = watched;
        return keyDown(static_cast<QKeyEvent *>(event));
    }
    default:
        break;
    }
    return false;
}

void TCommonForm::focusChanged(QWidget *now)
{
    if (!now || !m_bevel || now->window() != m_window)
        return;
    if (!isTabStop(now)) {
        m_bevel->hide();
        return;
    }
    try {
        m_bevel->SetStickTo(now);
        m_bevel->show();
    } catch (const Exception &) {
        // Another frame already marks this control; one frame is enough.
        m_bevel->hide();
    }
}
