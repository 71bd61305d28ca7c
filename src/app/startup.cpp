#include "app/startup.h"

#include "app/mainwindow.h"
#include "app/settingsdialog.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "core/sitefolder.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QDir>

TStartup::TStartup(QString exePath, TAliasStore &aliases, QString siteFolder)
    : m_exePath(std::move(exePath)), m_siteFolder(std::move(siteFolder)), m_aliases(aliases)
{
}

TStartup::~TStartup()
{
    // The window saves its placement through AppInfo, so it goes first.
    m_mainForm.reset();
    if (::AppInfo == m_appInfo.get())
        ::AppInfo = nullptr;
}

bool TStartup::Prepare()
{
    try {
        TAppInfo::Ui ui;
        ui.ShowErrorBox = [](const QString &message) { ShowError(message); };
        ui.ShowSettingsDialog = [] { return ShowSettingsDialog(); };
        m_appInfo = LoadConfiguration(m_exePath, m_aliases, ui, m_siteFolder);
        if (!m_appInfo)
            return false;
        QCoreApplication::setApplicationName(StrConst::AppTitle);
        TDialogs::InstallLoginHandler();
        m_mainForm = std::make_unique<TSrvMainForm>();
        if (!m_mainForm->KZCenter().Connected())
            return false;
        return true;
    } catch (const std::exception &e) {
        ShowError(e);
        return false;
    }
}

int RunApplication(QApplication &app, const QString &exePath, const QString &siteOption)
{
    QString site;
    try {
        site = FindSiteFolder(siteOption, exePath).Folder;
    } catch (const std::exception &e) {
        ShowError(e);
        return 1;
    }
    TStartup startup(exePath, TAliasStore::Session(), site);
    if (!startup.Prepare())
        return 1;
    startup.MainForm()->show();
    return app.exec();
}
