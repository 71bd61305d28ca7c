#include "app/startup.h"

#include "app/setsettingsform.h"
#include "app/srvmainform.h"
#include "core/appinfo.h"
#include "core/strconst.h"
#include "data/srvrplthread.h"
#include "engine/database.h"
#include "ui/dialogs.h"

#include <QApplication>

TStartup::TStartup(QString exePath, TAliasStore &aliases)
    : m_exePath(std::move(exePath)), m_aliases(aliases)
{
}

TStartup::~TStartup()
{
    // The window saves its placement through AppInfo, so it goes first.
    SetCentralDatabase(nullptr);
    m_mainForm.reset();
    if (::AppInfo == m_appInfo.get())
        ::AppInfo = nullptr;
}

bool TStartup::Prepare()
{
    try {
        m_appInfo = std::make_unique<TAppInfo>(m_exePath, m_aliases);
        ::AppInfo = m_appInfo.get();
        m_aliases.Load(m_appInfo->AppFolder() + StrConst::AliasFileName);
        m_appInfo->RegisterAliases();
        TAppInfo::Ui ui;
        ui.ShowErrorBox = [](const QString &message) { ShowError(message); };
        ui.ShowSettingsDialog = [] { return ShowSettingsDialog(); };
        if (!m_appInfo->CheckDatabases(ui))
            return false;
        QCoreApplication::setApplicationName(StrConst::AppTitle);
        TDialogs::InstallLoginHandler();
        m_mainForm = std::make_unique<TSrvMainForm>();
        if (!m_mainForm->KZCenter().Connected())
            return false;
        // Jobs open their own connections with the credentials given at this log-in.
        SetCentralDatabase(&m_mainForm->KZCenter());
        return true;
    } catch (const std::exception &e) {
        ShowError(e);
        return false;
    }
}

int RunApplication(QApplication &app, const QString &exePath)
{
    TStartup startup(exePath, TAliasStore::Session());
    if (!startup.Prepare())
        return 1;
    startup.MainForm()->show();
    return app.exec();
}
