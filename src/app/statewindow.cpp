#include "app/statewindow.h"

#include "app/commonform.h"
#include "app/importjournalwindow.h"
#include "app/personschart.h"
#include "core/clock.h"
#include "core/errors.h"
#include "core/inifile.h"
#include "status/personsperday.h"
#include "status/runningimport.h"
#include "status/statetable.h"
#include "status/workstationstate.h"
#include "statusview/statemodel.h"
#include "ui/dialogs.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

template <typename T> T *named(T *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

} // namespace

TWorkstationStateForm::TWorkstationStateForm(TDatabase &center, TIniFile *ini, QWidget *parent)
    : QDialog(parent), m_center(center), m_ini(ini)
{
    setObjectName(QStringLiteral("WorkstationStateForm"));
    setWindowTitle(QStringLiteral("Состояние рабочих станций"));
    resize(980, 640);

    auto *layout = new QVBoxLayout(this);
    auto *filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("Регион:"), this));
    cbRegion = named(new QComboBox(this), QStringLiteral("cbRegion"));
    filter->addWidget(cbRegion, 1);
    chkSilentOnly = named(new QCheckBox(QStringLiteral("Только молчащие"), this),
                          QStringLiteral("chkSilentOnly"));
    filter->addWidget(chkSilentOnly);
    filter->addWidget(new QLabel(QStringLiteral("Молчит дольше, дней:"), this));
    seSilentDays = named(new QSpinBox(this), QStringLiteral("seSilentDays"));
    seSilentDays->setRange(1, 3650);
    seSilentDays->setValue(m_ini ? SilentDaysSetting(*m_ini) : DefaultSilentDays);
    m_chartDays = m_ini ? ChartDaysSetting(*m_ini) : DefaultChartDays;
    filter->addWidget(seSilentDays);
    btnRefresh =
        named(new QPushButton(QStringLiteral("Обновить"), this), QStringLiteral("btnRefresh"));
    filter->addWidget(btnRefresh);
    layout->addLayout(filter);
    // An import running now, as its lock tells it; hidden when none runs.
    lblRunningImport = named(new QLabel(this), QStringLiteral("lblRunningImport"));
    lblRunningImport->setVisible(false);
    layout->addWidget(lblRunningImport);

    // The table and the chart share the height whatever is selected; the split is kept with the
    // window's placement.
    auto *splitter = named(new QSplitter(Qt::Vertical, this), QStringLiteral("splState"));
    splitter->setChildrenCollapsible(false);
    m_model = new TWorkstationStateModel(this);
    m_filter = new TWorkstationStateFilter(this);
    m_filter->setSourceModel(m_model);
    grdState = named(new QTableView(splitter), QStringLiteral("grdState"));
    grdState->setModel(m_filter);
    grdState->setSortingEnabled(true);
    grdState->sortByColumn(0, Qt::AscendingOrder);
    grdState->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdState->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grdState->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdState->setWordWrap(false);
    grdState->verticalHeader()->hide();
    grdState->horizontalHeader()->setStretchLastSection(true);
    chtPersons = named(new QChartView(splitter), QStringLiteral("chtPersons"));
    chtPersons->setMinimumHeight(180);
    chtPersons->chart()->legend()->setAlignment(Qt::AlignRight);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({300, 200});
    layout->addWidget(splitter, 1);

    auto *buttons = new QHBoxLayout;
    lblSummary = named(new QLabel(this), QStringLiteral("lblSummary"));
    buttons->addWidget(lblSummary, 1);
    CloseBtn = named(new QPushButton(QStringLiteral("Закрыть"), this), QStringLiteral("CloseBtn"));
    buttons->addWidget(CloseBtn);
    layout->addLayout(buttons);

    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnRefresh, &QPushButton::clicked, this, &TWorkstationStateForm::Refresh);
    connect(cbRegion, &QComboBox::currentIndexChanged, this, &TWorkstationStateForm::applyFilter);
    connect(chkSilentOnly, &QCheckBox::toggled, this, &TWorkstationStateForm::applyFilter);
    connect(seSilentDays, &QSpinBox::valueChanged, this, &TWorkstationStateForm::setSilentDays);
    connect(grdState->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TWorkstationStateForm::updateChart);
    connect(grdState, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
        OpenJournal(index.data(TWorkstationStateModel::WstGIDRole).toInt());
    });

    Refresh();
    m_common = new TCommonForm(this, m_ini);
}

TWorkstationStateForm::~TWorkstationStateForm() = default;

QChart &TWorkstationStateForm::Chart() const
{
    return *chtPersons->chart();
}

void TWorkstationStateForm::Refresh()
{
    m_now = TClock::Now();
    m_model->SetStates(ReadWorkstationStates(m_center, m_now, seSilentDays->value()));
    const QString running = RunningImportLine(m_center);
    lblRunningImport->setText(running);
    lblRunningImport->setVisible(!running.isEmpty());
    grdState->resizeColumnsToContents();
    for (int c = 0; c < m_model->columnCount(); ++c)
        grdState->setColumnWidth(c, std::min(grdState->columnWidth(c), 260));
    fillRegions();
    updateSummary();
    updateChart();
}

void TWorkstationStateForm::fillRegions()
{
    const QVariant current = cbRegion->currentData();
    const QSignalBlocker block(cbRegion);
    cbRegion->clear();
    cbRegion->addItem(QStringLiteral("Все регионы"), QVariant());
    for (const auto &[regGID, name] : RegionsOf(m_model->States()))
        cbRegion->addItem(name, regGID);
    const int index = current.isValid() ? cbRegion->findData(current) : 0;
    cbRegion->setCurrentIndex(std::max(index, 0));
    applyFilter();
}

void TWorkstationStateForm::applyFilter()
{
    m_filter->SetRegion(cbRegion->currentData());
    m_filter->SetSilentOnly(chkSilentOnly->isChecked());
    updateSummary();
}

void TWorkstationStateForm::done(int result)
{
    // The limit is kept once, as the window closes, not at every step of the spin box.
    if (m_ini && seSilentDays->value() != SilentDaysSetting(*m_ini)) {
        try {
            SetSilentDaysSetting(*m_ini, seSilentDays->value());
        } catch (const Exception &e) {
            ShowError(e);
        }
    }
    QDialog::done(result);
}

void TWorkstationStateForm::setSilentDays(int days)
{
    m_model->SetSilentDays(m_now, days);
    applyFilter();
}

void TWorkstationStateForm::updateSummary()
{
    lblSummary->setText(StateSummary(m_model->States(), seSilentDays->value()) +
                        QStringLiteral("; показано: %1").arg(m_filter->rowCount()));
}

void TWorkstationStateForm::updateChart()
{
    QList<TChartStation> stations;
    QList<int> ids;
    QModelIndexList rows = grdState->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &row : std::as_const(rows)) {
        const int wst = row.data(TWorkstationStateModel::WstGIDRole).toInt();
        const QString name = m_filter->index(row.row(), 1).data().toString();
        stations << TChartStation{wst, QString::number(wst) + QLatin1Char(' ') + name};
        ids << wst;
    }
    const QDate last = m_now.date();
    ShowPersonsChart(Chart(), stations, ImportedPersonsPerDay(m_center, ids, last, m_chartDays),
                     last);
}

void TWorkstationStateForm::OpenJournal(int wstGID)
{
    TImportJournalForm journal(m_center, this);
    const QDate today = TClock::Today();
    journal.SetFilter(wstGID, today.addDays(1 - m_chartDays), today);
    journal.exec();
}
