#pragma once

#include "ui/stickingbevel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QKeyEvent;
class QWidget;
class TIniFile;

// Behaviour shared by the system's own windows, attached to a window as a child object: the
// window's size and position, and the panes of its named splitters, are remembered per screen
// resolution in the configuration file,
// Enter and the arrow keys move the focus like a data-entry form, Esc cancels a dialog, and a
// frame marks the control that has the focus.
//
// The window's object name is the placement key, so set it before the window is first shown.
class TCommonForm : public QObject
{
    Q_OBJECT

public:
    // Runs the common creation step: takes the screen key and creates the focus frame. ini is
    // where placement lives; nullptr means AppInfo (and none when there is no AppInfo).
    explicit TCommonForm(QWidget *window, TIniFile *ini = nullptr);
    ~TCommonForm() override;

    QWidget *Window() const { return m_window; }
    // Width and height of the screen joined by "x", e.g. "1280x1024"; taken once at creation.
    const QString &ScreenKey() const { return m_screenKey; }
    TStickingBevel *Bevel() const { return m_bevel; }

    void LoadPlacement();
    void SavePlacement();

    // A window's own key handling, run after the common one; true when it consumed the key.
    using KeyHandler = std::function<bool(QKeyEvent *event)>;
    void SetKeyHandler(KeyHandler handler) { m_keyHandler = std::move(handler); }

    // The focus moves over controls that take the focus by Tab, wrapping around.
    void FocusNext();
    void FocusPrevious();

    // Where the screen key comes from; tests simulate resolutions with it. An empty function
    // restores the real screen.
    static void SetScreenKeySource(std::function<QString()> source);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TIniFile *ini() const;
    bool keyDown(QKeyEvent *event);
    void focusChanged(QWidget *now);
    void moveFocus(bool forward);

    QWidget *m_window;
    TIniFile *m_ini;
    QString m_screenKey;
    // The frame lives in whichever container holds the focused control and may be destroyed
    // with it before this object is.
    QPointer<TStickingBevel> m_bevel;
    KeyHandler m_keyHandler;
    // The key press that was last handled and where, so that the same press travelling up to
    // the parents of a control that ignored it is not handled twice.
    const QEvent *m_lastKey = nullptr;
    QPointer<QObject> m_lastKeyReceiver;
};
