#pragma once

// Drives the modal progress window of a test: presses "OK" once the job has ended.

#include "core/strconst.h"
#include "ui/progresswindow.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace jobtest {

// What the progress window showed when its job ended.
struct Finished
{
    QString caption;
    QString lastLine;
};

// Presses "OK" in the progress window once its job has ended, recording the caption and the
// last line first. The timer belongs to parent.
inline QTimer *pressOkWhenDone(QObject *parent, Finished &seen)
{
    auto *timer = new QTimer(parent);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [&seen, timer] {
        auto *button =
            Replicator ? Replicator->findChild<QPushButton *>(QStringLiteral("Button")) : nullptr;
        if (!button || !Replicator->isVisible() || button->text() != StrConst::BtnOK)
            return;
        seen.caption = Replicator->windowTitle();
        seen.lastLine = Replicator->findChild<QPlainTextEdit *>(QStringLiteral("MsgMemo"))
                            ->toPlainText()
                            .section(QLatin1Char('\n'), -1);
        timer->stop();
        button->click();
    });
    timer->start();
    return timer;
}

} // namespace jobtest
