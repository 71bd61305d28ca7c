#include "app/importjournalwindow.h"

#include "admin/datasetgrid.h"
#include "app/commonform.h"
#include "core/clock.h"
#include "engine/database.h"
#include "engine/query.h"
#include "import/importjournal.h"
#include "schema/schema.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The window is never narrower than its filter line needs.
constexpr int kLeastWidth = 760;

QDateEdit *dateEdit(QWidget *parent, const QString &name)
{
    auto *edit = new QDateEdit(parent);
    edit->setObjectName(name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    return edit;
}

} // namespace

TImportJournalForm::TImportJournalForm(TDatabase &center, QWidget *parent)
    : QDialog(parent), m_center(center)
{
    setObjectName(QStringLiteral("ImportJournalForm"));
    setWindowTitle(QStringLiteral("Журнал импорта"));
    resize(kLeastWidth, 480);

    auto *layout = new QVBoxLayout(this);
    auto *filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("Рабочая станция:"), this));
    cbWorkstation = new QComboBox(this);
    cbWorkstation->setObjectName(QStringLiteral("cbWorkstation"));
    filter->addWidget(cbWorkstation, 1);
    filter->addWidget(new QLabel(QStringLiteral("с"), this));
    dtFrom = dateEdit(this, QStringLiteral("dtFrom"));
    filter->addWidget(dtFrom);
    filter->addWidget(new QLabel(QStringLiteral("по"), this));
    dtTo = dateEdit(this, QStringLiteral("dtTo"));
    filter->addWidget(dtTo);
    layout->addLayout(filter);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    grdJournal = new TDataSetGrid(splitter);
    grdJournal->setObjectName(QStringLiteral("grdJournal"));
    grdJournalTables = new TDataSetGrid(splitter);
    grdJournalTables->setObjectName(QStringLiteral("grdJournalTables"));
    // The rows the selected run refused and skipped.
    grdJournalRefused = new TDataSetGrid(splitter);
    grdJournalRefused->setObjectName(QStringLiteral("grdJournalRefused"));
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setStretchFactor(2, 2);
    layout->addWidget(splitter, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    CloseBtn = new QPushButton(QStringLiteral("Закрыть"), this);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    buttons->addWidget(CloseBtn);
    layout->addLayout(buttons);
    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::accept);

    UpgradeSchema(m_center, SchemaKind::Central);

    m_runs = std::make_unique<TQuery>(&m_center);
    m_runs->SetSQL(QStringLiteral(
        "SELECT J.RUNGID, J.STARTTIME, J.ENDTIME, J.PKGNAME, J.WSTGID, W.WSTNAME, J.PKGLABEL,\n"
        "       J.RESULT, J.ERRORTEXT, J.CENTRALUSER, J.OSUSER, J.PKGSIZE\n"
        "FROM IMPORTJOURNAL J LEFT JOIN WORKSTATION W ON W.WSTGID = J.WSTGID\n"
        "WHERE J.STARTTIME >= :DFROM AND J.STARTTIME < :DTO\n"
        "  AND (:ANYWST = 1 OR J.WSTGID = :WST)\n"
        "ORDER BY J.STARTTIME DESC, J.RUNGID DESC"));
    m_runsSource = std::make_unique<TDataSource>(m_runs.get());
    m_tables = std::make_unique<TQuery>(&m_center);
    m_tables->SetSQL(
        QStringLiteral("SELECT STEPNO, TABLENAME, NEWROWS, EDITEDROWS, NEWMAPPINGS, REGISTRATIONS\n"
                       "FROM IMPORTJOURNALTABLE WHERE RUNGID = :RUNGID ORDER BY STEPNO"));
    m_tables->SetDataSource(m_runsSource.get());
    m_refused = std::make_unique<TQuery>(&m_center);
    m_refused->SetSQL(
        QStringLiteral("SELECT ROWNO, TABLENAME, LOCALID, WSTGID, MESSAGE\n"
                       "FROM IMPORTJOURNALREFUSED WHERE RUNGID = :RUNGID ORDER BY ROWNO"));
    m_refused->SetDataSource(m_runsSource.get());

    fillWorkstations();
    const QDate today = TClock::Today();
    SetFilter(QVariant(), today.addMonths(-1), today);
    m_tables->Open();
    m_refused->Open();

    m_runsModel = std::make_unique<TDataSetModel>(
        *m_runs,
        QList<TGridColumn>{{QStringLiteral("STARTTIME"), QStringLiteral("Начало")},
                           {QStringLiteral("ENDTIME"), QStringLiteral("Окончание")},
                           {QStringLiteral("RESULT"), QStringLiteral("Результат")},
                           {QStringLiteral("WSTGID"), QStringLiteral("Станция")},
                           {QStringLiteral("WSTNAME"), QStringLiteral("Название станции")},
                           {QStringLiteral("PKGNAME"), QStringLiteral("Пакет")},
                           {QStringLiteral("PKGLABEL"), QStringLiteral("Метка")},
                           {QStringLiteral("PKGSIZE"), QStringLiteral("Размер")},
                           {QStringLiteral("CENTRALUSER"), QStringLiteral("Пользователь")},
                           {QStringLiteral("OSUSER"), QStringLiteral("Пользователь ОС")},
                           {QStringLiteral("ERRORTEXT"), QStringLiteral("Ошибка")}},
        QStringLiteral("RUNGID"));
    grdJournal->SetDataSetModel(m_runsModel.get());
    m_tablesModel = std::make_unique<TDataSetModel>(
        *m_tables,
        QList<TGridColumn>{{QStringLiteral("TABLENAME"), QStringLiteral("Таблица")},
                           {QStringLiteral("NEWROWS"), QStringLiteral("Новые записи")},
                           {QStringLiteral("EDITEDROWS"), QStringLiteral("Изменённые записи")},
                           {QStringLiteral("NEWMAPPINGS"), QStringLiteral("Новые сопоставления")},
                           {QStringLiteral("REGISTRATIONS"), QStringLiteral("Регистрации")}},
        QStringLiteral("STEPNO"));
    grdJournalTables->SetDataSetModel(m_tablesModel.get());
    m_refusedModel = std::make_unique<TDataSetModel>(
        *m_refused,
        QList<TGridColumn>{{QStringLiteral("TABLENAME"), QStringLiteral("Таблица")},
                           {QStringLiteral("LOCALID"), QStringLiteral("Запись")},
                           {QStringLiteral("WSTGID"), QStringLiteral("Станция")},
                           {QStringLiteral("MESSAGE"), QStringLiteral("Причина пропуска")}},
        QStringLiteral("ROWNO"));
    grdJournalRefused->SetDataSetModel(m_refusedModel.get());
    // The error text is the long one: it takes what the other columns leave.
    grdJournal->SetMainColumn(grdJournal->model()->columnCount() - 1);
    grdJournalRefused->SetMainColumn(grdJournalRefused->model()->columnCount() - 1);
    openWideEnough(*layout);

    const auto changed = [this] {
        if (!m_filling)
            ApplyFilter();
    };
    connect(cbWorkstation, &QComboBox::currentIndexChanged, this, changed);
    connect(dtFrom, &QDateEdit::dateChanged, this, changed);
    connect(dtTo, &QDateEdit::dateChanged, this, changed);

    m_common = new TCommonForm(this);
}

void TImportJournalForm::openWideEnough(const QLayout &layout)
{
    // Wide enough for every column of the runs as loaded, within the screen; a placement saved
    // for this screen replaces it when the window is shown.
    const QMargins margins = layout.contentsMargins();
    int width = std::max({grdJournal->FittedWidth(), grdJournalTables->FittedWidth(),
                          grdJournalRefused->FittedWidth()}) +
                margins.left() + margins.right();
    width = qMax(width, kLeastWidth);
    if (const QScreen *s = screen())
        width = qMin(width, s->availableGeometry().width());
    resize(width, height());
}

TImportJournalForm::~TImportJournalForm()
{
    // The grids let go of their models before the models and queries go (in the reverse order
    // of their declaration).
    grdJournal->SetDataSetModel(nullptr);
    grdJournalTables->SetDataSetModel(nullptr);
    grdJournalRefused->SetDataSetModel(nullptr);
}

void TImportJournalForm::fillWorkstations()
{
    cbWorkstation->clear();
    cbWorkstation->addItem(QStringLiteral("Все"), QVariant());
    TQuery q(&m_center);
    q.SetSQL(QStringLiteral("SELECT DISTINCT J.WSTGID, W.WSTNAME\n"
                            "FROM IMPORTJOURNAL J LEFT JOIN WORKSTATION W ON W.WSTGID = J.WSTGID\n"
                            "WHERE J.WSTGID IS NOT NULL ORDER BY J.WSTGID"));
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) {
        const int wst = q.Fields(0)->AsInteger();
        const QString name = q.Fields(1)->AsString();
        cbWorkstation->addItem(name.isEmpty() ? QString::number(wst)
                                              : QString::number(wst) + QStringLiteral(" ") + name,
                               wst);
    }
}

void TImportJournalForm::SetFilter(const QVariant &wst, const QDate &from, const QDate &to)
{
    m_filling = true;
    int index = 0;
    if (wst.isValid() && !wst.isNull()) {
        index = cbWorkstation->findData(wst.toInt());
        if (index < 0) {
            cbWorkstation->addItem(QString::number(wst.toInt()), wst.toInt());
            index = cbWorkstation->count() - 1;
        }
    }
    cbWorkstation->setCurrentIndex(index);
    dtFrom->setDate(from);
    dtTo->setDate(to);
    m_filling = false;
    ApplyFilter();
}

void TImportJournalForm::ApplyFilter()
{
    const QVariant wst = cbWorkstation->currentData();
    const bool any = !wst.isValid() || wst.isNull();
    m_runs->Close();
    m_runs->ParamByName(QStringLiteral("DFROM")).SetAsDateTime(dtFrom->date().startOfDay());
    m_runs->ParamByName(QStringLiteral("DTO")).SetAsDateTime(dtTo->date().addDays(1).startOfDay());
    m_runs->ParamByName(QStringLiteral("ANYWST")).SetAsInteger(any ? 1 : 0);
    m_runs->ParamByName(QStringLiteral("WST")).SetAsInteger(any ? -1 : wst.toInt());
    m_runs->Open();
}
