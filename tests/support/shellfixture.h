#pragma once

#include "core/aliases.h"
#include "core/appinfo.h"
#include "core/paths.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// A program folder of its own with a configuration object over it, installed as AppInfo for the
// lifetime of the fixture.
struct ShellFixture
{
    ShellFixture() : info(std::make_unique<TAppInfo>(exePath(), aliases)) { AppInfo = info.get(); }
    ~ShellFixture() { AppInfo = nullptr; }

    QString exePath() const { return dir.filePath(QStringLiteral("zoru-admin")); }
    QString iniPath() const { return dir.filePath(QStringLiteral("zoru-admin.ini")); }
    // A new folder inside the program folder, with a trailing separator.
    QString folder(const QString &name) const
    {
        QDir(dir.path()).mkpath(name);
        return paths::includeTrailing(QDir::toNativeSeparators(dir.filePath(name)));
    }

    QTemporaryDir dir;
    TAliasStore aliases;
    std::unique_ptr<TAppInfo> info;
};

// Runs action on the next modal window named objectName once it is up (a real dialog run by
// exec() cannot be driven from the code that called exec()). A window that never comes, or an
// action that leaves it open, is closed after a while so that the test fails instead of hanging.
inline void whenModalShown(QObject *context, const QString &objectName,
                           std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer(context);
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, context, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == objectName && modal->isActiveWindow() &&
            QApplication::focusWidget()) {
            timer->stop();
            timer->deleteLater();
            QPointer<QWidget> window(modal);
            action(modal);
            QTimer::singleShot(5000, context, [window] {
                if (window && window->isVisible())
                    window->close();
            });
        } else if (++*tries > 300) {
            timer->stop();
            timer->deleteLater();
            if (modal)
                modal->close();
        }
    });
    timer->start();
}
