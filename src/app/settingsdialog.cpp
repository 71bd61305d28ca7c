#include "app/settingsdialog.h"

#include "app/commonform.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "ui/dialogs.h"
#include "ui/stickingbevel.h"

#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kMainCaption = QStringLiteral("База данных  \"АИС ZORU\"");
const QString kPolyCaption = QStringLiteral("База данных  \"ПОЛИКЛИНИКА\"");
const QString kImportCaption = QStringLiteral("Папка \"ИМПОРТ\"");
const QString kExportCaption = QStringLiteral("Папка \"ЭКСПОРТ\"");

QLineEdit *folderEdit(QWidget *page, const QString &name)
{
    auto *edit = new QLineEdit(page);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    // Not a tab stop: folders are chosen with the button beside it.
    edit->setFocusPolicy(Qt::ClickFocus);
    return edit;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    // Enter moves the focus on this form; it must not press whichever button has it.
    b->setAutoDefault(false);
    return b;
}

void addRow(QGridLayout *grid, int row, const QString &caption, QLineEdit *edit, QPushButton *b)
{
    auto *label = new QLabel(caption, edit->parentWidget());
    label->setBuddy(b);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(b, row, 2);
}

} // namespace

TSetSettingsForm::TSetSettingsForm(bool isServer, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SetSettingsForm"));
    setWindowTitle(QStringLiteral("Настройка параметров"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("PageControl1"));
    m_pages->setFocusPolicy(Qt::NoFocus);
    m_pages->tabBar()->setFocusPolicy(Qt::NoFocus);

    m_tsWorkstation = new QWidget(m_pages);
    m_tsWorkstation->setObjectName(QStringLiteral("tsWorkstation"));
    m_edMainDB = folderEdit(m_tsWorkstation, QStringLiteral("edMainDB"));
    m_btnMainBrowse =
        button(m_tsWorkstation, QStringLiteral("btnMainBrowse"), QStringLiteral("[1] - Найти..."));
    m_edPolyDB = folderEdit(m_tsWorkstation, QStringLiteral("edPolyDB"));
    m_btnPolyBrowse =
        button(m_tsWorkstation, QStringLiteral("btnPolyBrowse"), QStringLiteral("[2] - Найти..."));
    m_edImportDB = folderEdit(m_tsWorkstation, QStringLiteral("edImportDB"));
    m_btnImportBrowse = button(m_tsWorkstation, QStringLiteral("btnImportBrowse"),
                               QStringLiteral("[3] - Найти..."));
    m_edExportDB = folderEdit(m_tsWorkstation, QStringLiteral("edExportDB"));
    m_btnExportBrowse = button(m_tsWorkstation, QStringLiteral("btnExportBrowse"),
                               QStringLiteral("[4] - Найти..."));
    auto *wstGrid = new QGridLayout(m_tsWorkstation);
    addRow(wstGrid, 0, QStringLiteral("База данных  \" АИС ZORU \" : "), m_edMainDB,
           m_btnMainBrowse);
    addRow(wstGrid, 1, QStringLiteral("База данных  \" ПОЛИКЛИНИКА \" : "), m_edPolyDB,
           m_btnPolyBrowse);
    addRow(wstGrid, 2, QStringLiteral("\" ИМПОРТ \" : "), m_edImportDB, m_btnImportBrowse);
    addRow(wstGrid, 3, QStringLiteral("\" ЭКСПОРТ \" : "), m_edExportDB, m_btnExportBrowse);
    wstGrid->setRowStretch(4, 1);

    m_tsServer = new QWidget(m_pages);
    m_tsServer->setObjectName(QStringLiteral("tsServer"));
    m_edServerImport = folderEdit(m_tsServer, QStringLiteral("edServerImport"));
    m_btnServerImport =
        button(m_tsServer, QStringLiteral("Button2"), QStringLiteral("[1] - Найти..."));
    m_edServerExport = folderEdit(m_tsServer, QStringLiteral("edServerExport"));
    m_btnServerExport =
        button(m_tsServer, QStringLiteral("Button1"), QStringLiteral("[2] - Найти..."));
    auto *srvGrid = new QGridLayout(m_tsServer);
    addRow(srvGrid, 0, QStringLiteral("\" ИМПОРТ \" : "), m_edServerImport, m_btnServerImport);
    addRow(srvGrid, 1, QStringLiteral("\" ЭКСПОРТ \" : "), m_edServerExport, m_btnServerExport);
    srvGrid->setRowStretch(2, 1);

    m_pages->addTab(m_tsWorkstation, QStringLiteral("Базы данных и папки"));
    m_pages->addTab(m_tsServer, QStringLiteral("Настройка папок"));

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedHeight(41);
    m_btnOK = button(panel, QStringLiteral("btnOK"), QStringLiteral("F6 - Сохранить"));
    m_btnOK->setEnabled(false);
    m_btnCancel = button(panel, QStringLiteral("btnCancel"), QStringLiteral("ESC - Отмена"));
    auto *panelLayout = new QHBoxLayout(panel);
    panelLayout->addStretch();
    panelLayout->addWidget(m_btnOK);
    panelLayout->addWidget(m_btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pages);
    layout->addWidget(panel);
    // The height depends on the page shown and may be replaced by a saved one; the layout must
    // not veto it because of the hidden page's rows.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    connect(m_btnMainBrowse, &QPushButton::clicked, this, &TSetSettingsForm::btnMainBrowseClick);
    connect(m_btnPolyBrowse, &QPushButton::clicked, this, &TSetSettingsForm::btnPolyBrowseClick);
    connect(m_btnImportBrowse, &QPushButton::clicked, this,
            &TSetSettingsForm::btnImportBrowseClick);
    connect(m_btnExportBrowse, &QPushButton::clicked, this,
            &TSetSettingsForm::btnExportBrowseClick);
    connect(m_btnServerImport, &QPushButton::clicked, this,
            &TSetSettingsForm::btnImportBrowseClick);
    connect(m_btnServerExport, &QPushButton::clicked, this,
            &TSetSettingsForm::btnExportBrowseClick);
    connect(m_btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    for (QLineEdit *edit :
         {m_edMainDB, m_edPolyDB, m_edImportDB, m_edExportDB, m_edServerImport, m_edServerExport})
        connect(edit, &QLineEdit::textChanged, this, [this] { edMainDBChange(); });
    for (QLineEdit *edit : {m_edMainDB, m_edExportDB, m_edServerImport, m_edServerExport})
        edit->installEventFilter(this);

    FormCreate(isServer);
}

void TSetSettingsForm::FormCreate(bool isServer)
{
    m_isServer = isServer;
    m_common = new TCommonForm(this);
    m_common->SetKeyHandler([this](QKeyEvent *event) { return FormKeyDown(event); });
    m_common->Bevel()->SetStickTo(m_btnMainBrowse);
    m_common->Bevel()->show();

    m_pages->setTabVisible(m_pages->indexOf(m_tsWorkstation), !isServer);
    m_pages->setTabVisible(m_pages->indexOf(m_tsServer), isServer);
    m_pages->setCurrentWidget(isServer ? m_tsServer : m_tsWorkstation);
    resize(586, isServer ? 220 : 300);
    (isServer ? m_btnServerImport : m_btnMainBrowse)->setFocus();
}

void TSetSettingsForm::edMainDBChange()
{
    // An unset folder reaches the dialog as the bare separator; saving it would send the
    // packages to the root of the disk, so it counts as not chosen. A server keeps no local
    // databases: its main and dBASE folders may stay unset.
    const auto chosen = [](const QLineEdit *edit) {
        const QString text = edit->text();
        return !text.isEmpty() && text != QString(QDir::separator());
    };
    m_btnOK->setEnabled((m_isServer || (chosen(m_edMainDB) && chosen(m_edPolyDB))) &&
                        chosen(m_edImportDB) && chosen(m_edExportDB));
}

bool TSetSettingsForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        // A folder edit passes the focus on to its browse button.
        if (watched == m_edMainDB)
            m_btnMainBrowse->setFocus();
        else if (watched == m_edExportDB)
            m_btnExportBrowse->setFocus();
        else if (watched == m_edServerImport)
            m_btnServerImport->setFocus();
        else if (watched == m_edServerExport)
            m_btnServerExport->setFocus();
    }
    return QDialog::eventFilter(watched, event);
}

bool TSetSettingsForm::FormKeyDown(QKeyEvent *event)
{
    if (event->modifiers() & Qt::KeypadModifier)
        return false;
    // On the folder page only its two buttons exist, numbered [1] and [2] there.
    struct Row
    {
        QPushButton *button;
        void (TSetSettingsForm::*browse)();
    };
    Row row{nullptr, nullptr};
    switch (event->key()) {
    case Qt::Key_1:
        row = m_isServer ? Row{m_btnServerImport, &TSetSettingsForm::btnImportBrowseClick}
                         : Row{m_btnMainBrowse, &TSetSettingsForm::btnMainBrowseClick};
        break;
    case Qt::Key_2:
        row = m_isServer ? Row{m_btnServerExport, &TSetSettingsForm::btnExportBrowseClick}
                         : Row{m_btnPolyBrowse, &TSetSettingsForm::btnPolyBrowseClick};
        break;
    case Qt::Key_3:
        if (!m_isServer)
            row = Row{m_btnImportBrowse, &TSetSettingsForm::btnImportBrowseClick};
        break;
    case Qt::Key_4:
        if (!m_isServer)
            row = Row{m_btnExportBrowse, &TSetSettingsForm::btnExportBrowseClick};
        break;
    case Qt::Key_F6:
        if (m_btnOK->isEnabled())
            accept();
        return true;
    default:
        return false;
    }
    if (!row.button)
        return false;
    row.button->setFocus();
    (this->*row.browse)();
    return true;
}

void TSetSettingsForm::browse(QLineEdit *edit, QLineEdit *mirror, const QString &caption)
{
    const QString folder = TDialogs::BrowseFolder(caption);
    if (folder.isEmpty())
        return;
    const QString text = paths::includeTrailing(QDir::toNativeSeparators(folder));
    // The folders are kept in the ini file, in code page 1251: a name it cannot hold would come
    // back changed.
    if (!cp1251::encodeStrict(text)) {
        TDialogs::Error(QStringLiteral("Имя папки содержит знаки, которые нельзя сохранить в "
                                       "настройках (кодировка 1251):\r\n%1\r\nВыберите другую "
                                       "папку.")
                            .arg(text));
        return;
    }
    edit->setText(text);
    if (mirror)
        mirror->setText(text);
}

void TSetSettingsForm::btnMainBrowseClick()
{
    browse(m_edMainDB, nullptr, kMainCaption);
}

void TSetSettingsForm::btnPolyBrowseClick()
{
    browse(m_edPolyDB, nullptr, kPolyCaption);
}

void TSetSettingsForm::btnImportBrowseClick()
{
    browse(m_edImportDB, m_edServerImport, kImportCaption);
}

void TSetSettingsForm::btnExportBrowseClick()
{
    browse(m_edExportDB, m_edServerExport, kExportCaption);
}

void TSetSettingsForm::done(int result)
{
    if (result == QDialog::Accepted && !TDialogs::Confirmation(StrConst::ConfirmSave))
        return;
    QDialog::done(result);
}

bool ShowSettingsDialog()
{
    if (!AppInfo)
        throw Exception(QStringLiteral("Настройки программы не загружены"));
    TSetSettingsForm form(AppInfo->IsServer());
    form.edMainDB()->setText(AppInfo->MainDBPath);
    form.edPolyDB()->setText(AppInfo->PolyDBPath);
    form.edImportDB()->setText(AppInfo->ImportPath);
    form.edExportDB()->setText(AppInfo->ExportPath);
    if (form.exec() != QDialog::Accepted)
        return false;
    AppInfo->MainDBPath = form.edMainDB()->text();
    AppInfo->PolyDBPath = form.edPolyDB()->text();
    AppInfo->ImportPath = form.edImportDB()->text();
    AppInfo->ExportPath = form.edExportDB()->text();
    AppInfo->SaveSettings();
    return true;
}
