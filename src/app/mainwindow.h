#pragma once

#include <QMainWindow>
#include <memory>

class QAction;
class QMenu;
class QStatusBar;
class TCommonForm;
class TDatabase;

// The program's main window. Creating it connects the central database; the program runs only
// if that connection stands. It owns the two connections that every table and query of the
// system reaches by name: "KZCenter" (the central database) and "ImportFromWst" (the unpacked
// workstation package).
class TSrvMainForm : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the window and connects KZCenter, asking for the log-in (through TDialogs) and
    // reporting failures with ShowError. Needs AppInfo.
    explicit TSrvMainForm(QWidget *parent = nullptr);
    ~TSrvMainForm() override;

    // KZCenter: the main window's connection to the central database (jobs open their own).
    TDatabase &KZCenter() const { return *m_kzCenter; }
    TDatabase &WstRplDB() const { return *m_wstRplDB; }
    TCommonForm *Common() const { return m_common; }

public Q_SLOTS:
    void ShowHint(const QString &hint);
    void FileExit();
    // Menu commands whose jobs are wired in by the replication and administration code.
    void SyncItemClick();
    void ImportItemClick();
    void WstAdminItemClick();
    // The import journal window.
    void ImportJournalItemClick();
    // The dry run of the import.
    void CheckPackageItemClick();
    // The state of every workstation.
    void WstStateItemClick();

protected:
    bool event(QEvent *event) override;

private:
    void FormCreate();
    void connectCenter();

    std::unique_ptr<TDatabase> m_kzCenter;
    std::unique_ptr<TDatabase> m_wstRplDB;
    TCommonForm *m_common = nullptr;
    QStatusBar *m_statusLine = nullptr;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_adminMenu = nullptr;
    QAction *m_fileExitItem = nullptr;
    QAction *m_syncItem = nullptr;
    QAction *m_importItem = nullptr;
    QAction *m_wstAdminItem = nullptr;
    QAction *m_importJournalItem = nullptr;
    QAction *m_checkPackageItem = nullptr;
    QAction *m_wstStateItem = nullptr;
};
