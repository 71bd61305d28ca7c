#include "app/mainwindow.h"

#include "admin/adminwizard.h"
#include "app/commonform.h"
#include "app/importjournalwindow.h"
#include "app/joblaunch.h"
#include "app/statewindow.h"
#include "cli/siteconfig.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "ui/dialogs.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>

namespace {

QAction *menuItem(QMenu *menu, const QString &name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

} // namespace

TSrvMainForm::TSrvMainForm(QWidget *parent) : QMainWindow(parent)
{
    if (!AppInfo)
        throw Exception(QStringLiteral("Настройки программы не загружены"));
    setObjectName(QStringLiteral("SrvMainForm"));
    setWindowTitle(StrConst::AppTitle);
    resize(628, 403);

    QMenuBar *mainMenu = menuBar();
    mainMenu->setObjectName(QStringLiteral("MainMenu"));
    m_fileMenu = mainMenu->addMenu(QStringLiteral("&Файл"));
    m_fileMenu->setObjectName(QStringLiteral("FileMenu"));
    m_fileExitItem = menuItem(m_fileMenu, QStringLiteral("FileExitItem"), QStringLiteral("&Выход"));
    m_fileExitItem->setStatusTip(QStringLiteral("Exit this application"));
    m_adminMenu = mainMenu->addMenu(QStringLiteral("Администрирование"));
    m_adminMenu->setObjectName(QStringLiteral("AdminMenu"));
    m_syncItem = menuItem(m_adminMenu, QStringLiteral("SyncItem"),
                          QStringLiteral("Синхронизация справочников с ЕСВС"));
    m_importItem = menuItem(m_adminMenu, QStringLiteral("ImportItem"),
                            QStringLiteral("Импорт данных с рабочей станции"));
    m_wstAdminItem = menuItem(m_adminMenu, QStringLiteral("WstAdminItem"),
                              QStringLiteral("Администрирование рабочих станций"));
    m_checkPackageItem = menuItem(m_adminMenu, QStringLiteral("CheckPackageItem"),
                                  QStringLiteral("Проверить пакет..."));
    m_importJournalItem = menuItem(m_adminMenu, QStringLiteral("ImportJournalItem"),
                                   QStringLiteral("Журнал импорта"));
    m_wstStateItem = menuItem(m_adminMenu, QStringLiteral("WstStateItem"),
                              QStringLiteral("Состояние рабочих станций"));
    connect(m_wstStateItem, &QAction::triggered, this, &TSrvMainForm::WstStateItemClick);
    connect(m_fileExitItem, &QAction::triggered, this, &TSrvMainForm::FileExit);
    connect(m_syncItem, &QAction::triggered, this, &TSrvMainForm::SyncItemClick);
    connect(m_importItem, &QAction::triggered, this, &TSrvMainForm::ImportItemClick);
    connect(m_wstAdminItem, &QAction::triggered, this, &TSrvMainForm::WstAdminItemClick);
    connect(m_importJournalItem, &QAction::triggered, this, &TSrvMainForm::ImportJournalItemClick);
    connect(m_checkPackageItem, &QAction::triggered, this, &TSrvMainForm::CheckPackageItemClick);

    m_statusLine = statusBar();
    m_statusLine->setObjectName(QStringLiteral("StatusLine"));

    auto *centre = new QWidget(this);
    centre->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(centre);

    TAliasStore &aliases = AppInfo->Aliases();
    m_kzCenter = std::make_unique<TDatabase>(StrConst::CenterDatabaseName, &aliases);
    m_kzCenter->Exclusive = true;
    m_kzCenter->LoginPrompt = true;
    m_wstRplDB = std::make_unique<TDatabase>(StrConst::ImportDatabaseName, &aliases);
    m_wstRplDB->ReadOnly = true;

    FormCreate();
}

TSrvMainForm::~TSrvMainForm() = default;

void TSrvMainForm::FormCreate()
{
    m_common = new TCommonForm(this);
    // Hints reach the window as status-tip events (see event()).
    connectCenter();
}

void TSrvMainForm::connectCenter()
{
    try {
        ConfigureCentralDatabase(*m_kzCenter, *AppInfo);
    } catch (const std::exception &e) {
        ShowError(e);
        return;
    }

    while (!m_kzCenter->Connected()) {
        try {
            m_kzCenter->Open();
        } catch (const EDBEngineError &e) {
            ShowError(e);
        } catch (const EDatabaseError &) {
            return; // the log-in was cancelled
        } catch (const std::exception &e) {
            ShowError(e);
            return;
        }
    }
}

bool TSrvMainForm::event(QEvent *event)
{
    if (event->type() == QEvent::StatusTip) {
        ShowHint(static_cast<QStatusTipEvent *>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TSrvMainForm::ShowHint(const QString &hint)
{
    m_statusLine->showMessage(hint);
}

void TSrvMainForm::FileExit()
{
    close();
}

void TSrvMainForm::SyncItemClick()
{
    // The progress window has shown the outcome already.
    SyncExternalReferences(ProgramInfo(), *m_kzCenter);
}

void TSrvMainForm::ImportItemClick()
{
    // The progress window has shown the outcome already.
    ImportWorkstationPackage(ProgramInfo(), *m_kzCenter);
}

void TSrvMainForm::WstAdminItemClick()
{
    try {
        TAdminWizard wizard(this, *m_kzCenter);
        wizard.exec();
    } catch (const std::exception &e) {
        ShowError(e);
    }
}

void TSrvMainForm::ImportJournalItemClick()
{
    try {
        TImportJournalForm form(*m_kzCenter, this);
        form.exec();
    } catch (const std::exception &e) {
        ShowError(e);
    }
}

void TSrvMainForm::WstStateItemClick()
{
    try {
        TWorkstationStateForm form(*m_kzCenter, AppInfo, this);
        form.exec();
    } catch (const std::exception &e) {
        ShowError(e);
    }
}

void TSrvMainForm::CheckPackageItemClick()
{
    // The progress window shows the report.
    CheckWorkstationPackage(ProgramInfo(), *m_kzCenter);
}
