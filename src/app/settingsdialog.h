#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class TCommonForm;

// The modal dialog in which the four folders of the configuration are chosen. Folders come only
// from the folder browser; the edits cannot be typed into.
class TSetSettingsForm : public QDialog
{
    Q_OBJECT

public:
    // Shows the folder page alone when isServer, otherwise the page with all four folders.
    explicit TSetSettingsForm(bool isServer, QWidget *parent = nullptr);

    TCommonForm *Common() const { return m_common; }

    // The four folders that are saved; set before showing, read after OK.
    QLineEdit *edMainDB() const { return m_edMainDB; }
    QLineEdit *edPolyDB() const { return m_edPolyDB; }
    QLineEdit *edImportDB() const { return m_edImportDB; }
    QLineEdit *edExportDB() const { return m_edExportDB; }

    // Closing with OK first asks for confirmation and stays open unless it is given.
    void done(int result) override;

public Q_SLOTS:
    void btnMainBrowseClick();
    void btnPolyBrowseClick();
    void btnImportBrowseClick();
    void btnExportBrowseClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate(bool isServer);
    bool FormKeyDown(QKeyEvent *event);
    void edMainDBChange();
    void browse(QLineEdit *edit, QLineEdit *mirror, const QString &caption);

    TCommonForm *m_common = nullptr;
    bool m_isServer = false;
    QTabWidget *m_pages = nullptr;
    QWidget *m_tsWorkstation = nullptr;
    QWidget *m_tsServer = nullptr;
    QLineEdit *m_edMainDB = nullptr;
    QLineEdit *m_edPolyDB = nullptr;
    QLineEdit *m_edImportDB = nullptr;
    QLineEdit *m_edExportDB = nullptr;
    QLineEdit *m_edServerImport = nullptr;
    QLineEdit *m_edServerExport = nullptr;
    QPushButton *m_btnMainBrowse = nullptr;
    QPushButton *m_btnPolyBrowse = nullptr;
    QPushButton *m_btnImportBrowse = nullptr;
    QPushButton *m_btnExportBrowse = nullptr;
    QPushButton *m_btnServerImport = nullptr; // "Button2"
    QPushButton *m_btnServerExport = nullptr; // "Button1"
    QPushButton *m_btnOK = nullptr;
    QPushButton *m_btnCancel = nullptr;
};

// Shows the settings dialog over AppInfo's folders and, when the user saves, stores them and
// saves the settings. True when saved. An error of saving goes to the caller.
bool ShowSettingsDialog();
