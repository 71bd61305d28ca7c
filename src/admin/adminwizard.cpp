#include "admin/adminwizard.h"

#include "admin/admindialog.h"
#include "admin/brigadedialog.h"
#include "admin/datasetgrid.h"
#include "admin/exportlaunch.h"
#include "admin/operatordialog.h"
#include "admin/operatorscripts.h"
#include "admin/wizarddata.h"
#include "admin/workstationdialog.h"
#include "core/appinfo.h"
#include "engine/database.h"
#include "engine/dataset.h"
#include "package/packagetables.h"
#include "ui/dialogs.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

enum Page
{
    pgWstType,
    pgRegion,
    pgHospital,
    pgCity,
    pgBrigade,
    pgWorkstation,
    pgOperator,
    pgCount
};

const QString kFilterHint = QStringLiteral("'Быстрый' - поиск по первым символам строки\n"
                                           "'Полный' - поиск по произвольному вхождению символов");

bool hasRows(const TDataSet *d)
{
    return d && d->Active() && !d->IsEmpty();
}

// The value of a column in the current row; Null when the dataset has none.
QVariant current(const TDataSet &d, const QString &column)
{
    if (!hasRows(&d))
        return {};
    return d.FieldByName(column)->AsVariant();
}

void reopen(TDataSet &d)
{
    d.Close();
    d.Open();
}

} // namespace

TAdminWizard::TAdminWizard(QWidget *owner, TDatabase &center) : QDialog(owner), m_center(center)
{
    setObjectName(QStringLiteral("AdminWizard"));
    setWindowTitle(QStringLiteral("Администрирование рабочих станций"));
    setModal(true);
    buildWindow();
    resize(773, 458);
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    try {
        FormCreate();
    } catch (...) {
        FormDestroy();
        throw;
    }
}

TAdminWizard::~TAdminWizard()
{
    FormDestroy();
}

// --- building the window ---------------------------------------------------------------------

QWidget *TAdminWizard::addPage(const QString &name, const QString &tab, const QString &group,
                               QWidget *&content)
{
    auto *page = new QWidget(pcWstWiz);
    page->setObjectName(name);
    auto *layout = new QVBoxLayout(page);
    auto *box = new QGroupBox(group, page);
    box->setObjectName(name + QStringLiteral("Group"));
    layout->addWidget(box);
    pcWstWiz->addTab(page, tab);
    content = box;
    return page;
}

TAdminWizard::FilterStrip TAdminWizard::addFilterStrip(QWidget *parent, const QString &edit,
                                                       const QString &mode)
{
    FilterStrip strip;
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("Фильтр:"), parent);
    strip.edit = new QLineEdit(parent);
    strip.edit->setObjectName(edit);
    strip.edit->setValidator(new TUpperCaseValidator(strip.edit));
    label->setBuddy(strip.edit);
    strip.mode = new QGroupBox(parent);
    strip.mode->setObjectName(mode);
    strip.mode->setToolTip(kFilterHint);
    auto *modes = new QHBoxLayout(strip.mode);
    modes->setContentsMargins(4, 0, 4, 0);
    strip.quick = new QRadioButton(QStringLiteral("Быстрый"), strip.mode);
    strip.quick->setObjectName(mode + QStringLiteral("Quick"));
    strip.full = new QRadioButton(QStringLiteral("Полный"), strip.mode);
    strip.full->setObjectName(mode + QStringLiteral("Full"));
    strip.quick->setChecked(true);
    strip.quick->setToolTip(kFilterHint);
    strip.full->setToolTip(kFilterHint);
    modes->addWidget(strip.quick);
    modes->addWidget(strip.full);
    row->addWidget(label);
    row->addWidget(strip.edit, 1);
    row->addWidget(strip.mode);
    static_cast<QVBoxLayout *>(parent->layout())->addLayout(row);
    return strip;
}

TDataSetGrid *TAdminWizard::addGrid(QWidget *parent, const QString &name)
{
    auto *grid = new TDataSetGrid(parent);
    grid->setObjectName(name);
    parent->layout()->addWidget(grid);
    return grid;
}

QPushButton *TAdminWizard::addButton(QWidget *parent, const QString &name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

void TAdminWizard::buildWindow()
{
    auto *layout = new QVBoxLayout(this);
    pcWstWiz = new QTabWidget(this);
    pcWstWiz->setObjectName(QStringLiteral("pcWstWiz"));
    layout->addWidget(pcWstWiz, 1);

    QWidget *box = nullptr;
    addPage(QStringLiteral("tsWstType"), QStringLiteral("Тип рабочей станции"),
            QStringLiteral("Выберите тип рабочей станции"), box);
    auto *types = new QVBoxLayout(box);
    rbHospital = new QRadioButton(QStringLiteral("при ЛПУ"), box);
    rbHospital->setObjectName(QStringLiteral("rbHospital"));
    rbBrigade = new QRadioButton(QStringLiteral("при выездной бригаде"), box);
    rbBrigade->setObjectName(QStringLiteral("rbBrigade"));
    types->addWidget(rbHospital);
    types->addWidget(rbBrigade);
    types->addStretch(1);

    addPage(QStringLiteral("tsRegion"), QStringLiteral("Регион"), QStringLiteral("Выберите регион"),
            box);
    new QVBoxLayout(box);
    m_region =
        addFilterStrip(box, QStringLiteral("edRegionFilter"), QStringLiteral("rbRegionFilter"));
    grdRegion = addGrid(box, QStringLiteral("grdRegion"));

    addPage(QStringLiteral("tsHospital"), QStringLiteral("ЛПУ"), QStringLiteral("Выберите ЛПУ"),
            box);
    new QVBoxLayout(box);
    m_hospital =
        addFilterStrip(box, QStringLiteral("edHospitalFilter"), QStringLiteral("rbHospitalFilter"));
    grdHospital = addGrid(box, QStringLiteral("grdHospital"));

    addPage(QStringLiteral("tsCity"), QStringLiteral("Населенный пункт"),
            QStringLiteral("Выберите населенный пункт"), box);
    new QVBoxLayout(box);
    m_city = addFilterStrip(box, QStringLiteral("edCityFilter"), QStringLiteral("rbCityFilter"));
    grdCity = addGrid(box, QStringLiteral("grdCity"));

    // Pages with a grid and their command buttons on the right.
    auto gridWithButtons = [this](QWidget *parent, const QString &grid,
                                  std::initializer_list<QPushButton **> buttons,
                                  std::initializer_list<std::pair<QString, QString>> names) {
        auto *row = new QHBoxLayout(parent);
        auto *left = new QWidget(parent);
        new QVBoxLayout(left);
        left->layout()->setContentsMargins(0, 0, 0, 0);
        TDataSetGrid *g = addGrid(left, grid);
        row->addWidget(left, 1);
        auto *column = new QVBoxLayout;
        auto name = names.begin();
        for (QPushButton **b : buttons) {
            *b = addButton(parent, name->first, name->second);
            column->addWidget(*b);
            ++name;
        }
        column->addStretch(1);
        row->addLayout(column);
        return g;
    };

    addPage(QStringLiteral("tsBrigade"), QStringLiteral("Выездные бригады"),
            QStringLiteral("Выберите выездную бригаду"), box);
    grdBrigade = gridWithButtons(box, QStringLiteral("grdBrigade"), {&brgAddButton, &brgEdtButton},
                                 {{QStringLiteral("brgAddButton"), QStringLiteral("Добавить")},
                                  {QStringLiteral("brgEdtButton"), QStringLiteral("Изменить")}});
    addPage(QStringLiteral("tsWorkstation"), QStringLiteral("Рабочая станция"),
            QStringLiteral("Выберите рабочую станцию"), box);
    grdWorkstation =
        gridWithButtons(box, QStringLiteral("grdWorkstation"), {&wstAddButton, &wstSendButton},
                        {{QStringLiteral("wstAddButton"), QStringLiteral("Добавить")},
                         {QStringLiteral("wstSendButton"), QStringLiteral("Отправить")}});
    addPage(QStringLiteral("tsOperator"), QStringLiteral("Операторы"),
            QStringLiteral("Выберите оператора"), box);
    grdOperator = gridWithButtons(
        box, QStringLiteral("grdOperator"), {&userAddButton, &userEdtButton, &userPwdButton},
        {{QStringLiteral("userAddButton"), QStringLiteral("Добавить")},
         {QStringLiteral("userEdtButton"), QStringLiteral("Изменить")},
         {QStringLiteral("userPwdButton"), QStringLiteral("Удалить пароль")}});

    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    PrevButton = new QPushButton(QStringLiteral("Назад"), this);
    PrevButton->setObjectName(QStringLiteral("PrevButton"));
    NextButton = new QPushButton(QStringLiteral("Далее"), this);
    NextButton->setObjectName(QStringLiteral("NextButton"));
    NextButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Выход"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    PrevButton->setAutoDefault(false);
    bottom->addWidget(PrevButton);
    bottom->addWidget(NextButton);
    bottom->addWidget(CancelButton);
    layout->addLayout(bottom);

    // Nothing is usable before FormCreate has run.
    PrevButton->setEnabled(false);
    NextButton->setEnabled(false);
    for (int i = pgRegion; i < pgCount; ++i)
        pcWstWiz->setTabVisible(i, false);
    connectHandlers();
}

void TAdminWizard::connectHandlers()
{
    connect(PrevButton, &QPushButton::clicked, this, &TAdminWizard::PrevButtonClick);
    connect(NextButton, &QPushButton::clicked, this, &TAdminWizard::NextButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(pcWstWiz, &QTabWidget::currentChanged, this, &TAdminWizard::pcWstWizChange);
    connect(rbHospital, &QRadioButton::clicked, this, &TAdminWizard::rbHospitalClick);
    connect(rbBrigade, &QRadioButton::clicked, this, &TAdminWizard::rbHospitalClick);
    auto filter = [this](const FilterStrip &s, void (TAdminWizard::*handler)()) {
        connect(s.edit, &QLineEdit::textChanged, this, handler);
        connect(s.quick, &QRadioButton::clicked, this, handler);
        connect(s.full, &QRadioButton::clicked, this, handler);
    };
    filter(m_region, &TAdminWizard::edRegionFilterChange);
    filter(m_hospital, &TAdminWizard::edHospitalFilterChange);
    filter(m_city, &TAdminWizard::edCityFilterChange);
    connect(brgAddButton, &QPushButton::clicked, this, &TAdminWizard::brgAddButtonClick);
    connect(brgEdtButton, &QPushButton::clicked, this, &TAdminWizard::brgEdtButtonClick);
    connect(wstAddButton, &QPushButton::clicked, this, &TAdminWizard::wstAddButtonClick);
    connect(wstSendButton, &QPushButton::clicked, this, &TAdminWizard::wstSendButtonClick);
    connect(userAddButton, &QPushButton::clicked, this, &TAdminWizard::userAddButtonClick);
    connect(userEdtButton, &QPushButton::clicked, this, &TAdminWizard::userEdtButtonClick);
    connect(userPwdButton, &QPushButton::clicked, this, &TAdminWizard::userPwdButtonClick);
}

// --- life cycle ------------------------------------------------------------------------------

void TAdminWizard::FormCreate()
{
    m_wwdm = std::make_unique<TWWDM>(&m_center);
    m_siedm = std::make_unique<TSIEDM>(&m_center, nullptr);
    pcWstWiz->setCurrentIndex(pgWstType);

    TWWDM &dm = *m_wwdm;
    int next = 0;
    auto model = [this, &next](TDataSetGrid *grid, TDataSet &d, const QList<TGridColumn> &columns,
                               const QString &key) {
        auto &slot = m_models.at(next++);
        slot = std::make_unique<TDataSetModel>(d, columns, key);
        grid->SetDataSetModel(slot.get());
    };
    model(grdRegion, dm.itRegion,
          {{QStringLiteral("REGNAME"), QStringLiteral("Наименование")},
           {QStringLiteral("REGOKATO"), QStringLiteral("Код ОКАТО")}},
          QStringLiteral("REGGID"));
    model(grdHospital, dm.itHospital,
          {{QStringLiteral("MU"), QStringLiteral("Название")},
           {QStringLiteral("MUFL"), QStringLiteral("Полное название")},
           {QStringLiteral("HSPGID"), QStringLiteral("ID")}},
          QStringLiteral("HSPGID"));
    // The short name is read whole; the full name takes the rest of the width.
    grdHospital->SetMainColumn(1);
    model(grdCity, dm.itCity,
          {{QStringLiteral("CITYNAME"), QStringLiteral("Наименование")},
           {QStringLiteral("CITYOKATO"), QStringLiteral("Код ОКАТО")},
           {QStringLiteral("CITYSOATO"), QStringLiteral("Код СОАТО")}},
          QStringLiteral("CITYGID"));
    model(grdBrigade, dm.itBrigade,
          {{QStringLiteral("BRGNAME"), QStringLiteral("Название")},
           {QStringLiteral("BRGGID"), QStringLiteral("ID")}},
          QStringLiteral("BRGGID"));
    model(grdWorkstation, dm.itWorkstation,
          {{QStringLiteral("WSTNAME"), QStringLiteral("Название")},
           {QStringLiteral("WSTGID"), QStringLiteral("ID")}},
          QStringLiteral("WSTGID"));
    model(grdOperator, dm.itOperator,
          {{QStringLiteral("USERNAME"), QStringLiteral("Имя пользователя")},
           {QStringLiteral("USERLEVEL"), QStringLiteral("Группа")},
           {QStringLiteral("USERGID"), QStringLiteral("ID")}},
          QStringLiteral("USERGID;WSTGID"));

    dm.itRegionNotNull.Open();
    dm.itRegion.Open();
    dm.itCity.Open();
    dm.itHospital.Open();
    dm.itWorkstation.Open();
    dm.itOperator.Open();
    connect(&dm, &TWWDM::UpdatePages, this, &TAdminWizard::UpdatePages);
    m_ready = true;
    dm.itRegionAfterScroll();
    UpdatePages();
}

void TAdminWizard::FormDestroy()
{
    m_ready = false;
    if (m_wwdm) {
        disconnect(m_wwdm.get(), nullptr, this, nullptr);
        // The grids let go of the datasets before these are freed.
        for (TDataSetGrid *g :
             {grdRegion, grdHospital, grdCity, grdBrigade, grdWorkstation, grdOperator})
            g->SetDataSetModel(nullptr);
        for (auto &m : m_models)
            m.reset();
        for (TDataSet *d : std::initializer_list<TDataSet *>{
                 &m_wwdm->itOperator, &m_wwdm->itWorkstation, &m_wwdm->itHospital,
                 &m_wwdm->itRegion, &m_wwdm->itRegionNotNull}) {
            try {
                d->Close();
            } catch (...) {
            }
        }
    }
    m_siedm.reset();
    m_wwdm.reset();
}

template <typename F> void TAdminWizard::guarded(F &&body)
{
    if (!m_ready)
        return;
    try {
        body();
    } catch (const std::exception &e) {
        ShowError(e);
    }
}

// --- pages -----------------------------------------------------------------------------------

int TAdminWizard::WorkstationType() const
{
    if (rbHospital->isChecked())
        return 1;
    if (rbBrigade->isChecked())
        return 2;
    return 0;
}

TDataSet *TAdminWizard::parentList() const
{
    switch (WorkstationType()) {
    case 1:
        return &m_wwdm->itHospital;
    case 2:
        return &m_wwdm->itBrigade;
    default:
        return nullptr;
    }
}

void TAdminWizard::UpdatePages()
{
    if (!m_ready || m_updating)
        return;
    const QScopedValueRollback<bool> updating(m_updating, true);

    const int type = WorkstationType();
    const bool regions = hasRows(&m_wwdm->itRegion);
    const bool cities = hasRows(&m_wwdm->itCity);
    const bool parents = hasRows(parentList());
    const bool workstations = hasRows(&m_wwdm->itWorkstation);
    const bool operators = hasRows(&m_wwdm->itOperator);

    pcWstWiz->setTabVisible(pgRegion, type != 0);
    pcWstWiz->setTabVisible(pgHospital, regions && type == 1);
    pcWstWiz->setTabVisible(pgCity, regions && type == 2);
    pcWstWiz->setTabVisible(pgBrigade, cities && type == 2);
    pcWstWiz->setTabVisible(pgWorkstation, parents);
    pcWstWiz->setTabVisible(pgOperator, workstations);

    bool next = false;
    switch (pcWstWiz->currentIndex()) {
    case pgWstType:
        next = type != 0;
        break;
    case pgRegion:
        next = regions;
        break;
    case pgHospital:
        next = parents;
        break;
    case pgCity:
        next = cities;
        break;
    case pgBrigade:
        next = parents;
        brgEdtButton->setEnabled(parents);
        break;
    case pgWorkstation:
        next = workstations;
        wstSendButton->setEnabled(workstations);
        break;
    case pgOperator:
        userEdtButton->setEnabled(operators);
        userPwdButton->setEnabled(operators);
        break;
    default:
        break;
    }
    NextButton->setEnabled(next);
    PrevButton->setEnabled(pcWstWiz->currentIndex() != pgWstType);
}

void TAdminWizard::NextButtonClick()
{
    guarded([this] {
        for (int i = pcWstWiz->currentIndex() + 1; i < pcWstWiz->count(); ++i) {
            if (pcWstWiz->isTabVisible(i)) {
                pcWstWiz->setCurrentIndex(i);
                break;
            }
        }
        UpdatePages();
    });
}

void TAdminWizard::PrevButtonClick()
{
    guarded([this] {
        for (int i = pcWstWiz->currentIndex() - 1; i >= 0; --i) {
            if (pcWstWiz->isTabVisible(i)) {
                pcWstWiz->setCurrentIndex(i);
                break;
            }
        }
        UpdatePages();
    });
}

void TAdminWizard::pcWstWizChange()
{
    UpdatePages();
}

void TAdminWizard::rbHospitalClick()
{
    guarded([this] {
        m_wwdm->SetWorkstationMaster(WorkstationType());
        m_wwdm->itRegionAfterScroll();
        UpdatePages();
    });
}

// --- filters ---------------------------------------------------------------------------------

QString TAdminWizard::MakeLikePattern(const QString &text)
{
    QString pattern = text;
    pattern.replace(QLatin1Char(' '), QStringLiteral("%%"));
    return QLatin1Char('%') + pattern + QLatin1Char('%');
}

void TAdminWizard::ApplyQuickFilter(TDataSet &query, TDataSet &list, const QString &text,
                                    const QString &field)
{
    query.SetFilterOptions(TFilterOption::foCaseInsensitive);
    // Conditions of others (the region's on the settlement query) stay.
    TSimpleFilter filter(query.Filter());
    if (text.isEmpty())
        filter.RemoveCondition(field);
    else
        filter.SetCondition(field, QLatin1Char('=') + TSimpleFilter::Quoted(text + u'*'));
    query.SetFilter(filter.GetText());
    query.SetFiltered(true);
    if (&list != &query)
        reopen(list);
}

void TAdminWizard::FilterChange(const FilterStrip &box, TQuery &query, TDataSet &list,
                                const QString &field, bool patternCleared,
                                void (TWWDM::*setPattern)(const QString &))
{
    // The hospital query is its own list: a new pattern takes effect when it is opened again.
    const bool ownList = &list == &query;
    if (box.quick->isChecked()) {
        if (!patternCleared) {
            (m_wwdm.get()->*setPattern)(QString());
            if (ownList)
                reopen(query);
        }
        ApplyQuickFilter(query, list, box.edit->text(), field);
    } else {
        (m_wwdm.get()->*setPattern)(MakeLikePattern(box.edit->text()));
        ApplyQuickFilter(query, list, QString(), field);
        if (ownList)
            reopen(query);
    }
    UpdatePages();
}

void TAdminWizard::edRegionFilterChange()
{
    guarded([this] {
        TWWDM &dm = *m_wwdm;
        FilterChange(m_region, dm.itRegionNotNull, dm.itRegion, QStringLiteral("REGNAME"),
                     dm.RegionPatternCleared(), &TWWDM::SetRegionPattern);
    });
}

void TAdminWizard::edCityFilterChange()
{
    guarded([this] {
        TWWDM &dm = *m_wwdm;
        FilterChange(m_city, dm.itCityNotNull, dm.itCity, QStringLiteral("CITYNAME"),
                     dm.CityPatternCleared(), &TWWDM::SetCityPattern);
    });
}

void TAdminWizard::edHospitalFilterChange()
{
    guarded([this] {
        TWWDM &dm = *m_wwdm;
        FilterChange(m_hospital, dm.itHospital, dm.itHospital, QStringLiteral("MU"),
                     dm.HospitalPatternCleared(), &TWWDM::SetHospitalPattern);
    });
}

// --- brigades, workstations, operators -------------------------------------------------------

int TAdminWizard::EditBrigade(const QVariant &brgGID)
{
    TTable &table = m_siedm->itBrigade;
    table.Open();
    const TCloseOnExit closer{&table};
    const QVariant regGID = current(m_wwdm->itRegion, QStringLiteral("REGGID"));
    const QVariant cityGID = current(m_wwdm->itCity, QStringLiteral("CITYGID"));
    auto dialog = std::make_unique<TBrigadeDlg>(this, *m_wwdm, cityGID, regGID, brgGID,
                                                m_siedm->itBrigHsp, table);
    const int result = dialog->exec();
    reopen(m_wwdm->itBrigade);
    m_wwdm->itBrigade.Locate(QStringLiteral("BRGGID"), current(table, QStringLiteral("BRGGID")));
    UpdatePages();
    return result;
}

int TAdminWizard::EditWorkstation(const QVariant &wstGID)
{
    TTable &table = m_siedm->itWorkStation;
    table.Open();
    const TCloseOnExit closer{&table};
    const int type = WorkstationType();
    const QVariant hspGID =
        type == 1 ? current(m_wwdm->itHospital, QStringLiteral("HSPGID")) : QVariant();
    const QVariant brgGID =
        type == 2 ? current(m_wwdm->itBrigade, QStringLiteral("BRGGID")) : QVariant();
    auto dialog = std::make_unique<TWorkstationDialog>(this, table, wstGID, hspGID, brgGID);
    const int result = dialog->exec();
    reopen(m_wwdm->itWorkstation);
    m_wwdm->itWorkstation.Locate(QStringLiteral("WSTGID"),
                                 current(table, QStringLiteral("WSTGID")));
    UpdatePages();
    return result;
}

int TAdminWizard::EditOperator(const QVariant &userGID)
{
    TTable &table = m_siedm->itOperator;
    table.Open();
    const TCloseOnExit closer{&table};
    const QVariant wstGID = current(m_wwdm->itWorkstation, QStringLiteral("WSTGID"));
    auto dialog = std::make_unique<TOperatorDlg>(this, wstGID, userGID, table);
    const int result = dialog->exec();
    reopen(m_wwdm->itOperator);
    m_wwdm->itOperator.Locate(QStringLiteral("USERGID;WSTGID"),
                              QVariantList{current(table, QStringLiteral("USERGID")),
                                           current(table, QStringLiteral("WSTGID"))});
    UpdatePages();
    return result;
}

void TAdminWizard::brgAddButtonClick()
{
    guarded([this] { EditBrigade(QVariant()); });
}

void TAdminWizard::brgEdtButtonClick()
{
    guarded([this] { EditBrigade(current(m_wwdm->itBrigade, QStringLiteral("BRGGID"))); });
}

void TAdminWizard::wstAddButtonClick()
{
    guarded([this] {
        if (EditWorkstation(QVariant()) == QDialog::Accepted &&
            TDialogs::PlainQuestion(
                QStringLiteral("Создать архив с внешними справочниками для рабочей станции?")))
            wstSendButtonClick();
    });
}

void TAdminWizard::wstSendButtonClick()
{
    guarded([this] {
        const QVariant wstGID = current(m_wwdm->itWorkstation, QStringLiteral("WSTGID"));
        if (!wstGID.isNull())
            ExportToWorkstation(ProgramInfo(), m_center, static_cast<int>(wstGID.toLongLong()));
    });
}

void TAdminWizard::writeOperatorScript(QStringList (*statement)(const TOperatorValues &))
{
    const TOperatorValues op = OperatorValuesOf(m_wwdm->itOperator);
    const TScriptTarget target = ScriptTargetOf(*m_siedm, static_cast<int>(op.WstGID.toLongLong()));
    SaveScriptReporting(statement(op), target, AppInfo ? AppInfo->ExportPath : QString());
}

void TAdminWizard::userAddButtonClick()
{
    guarded([this] {
        if (EditOperator(QVariant()) == QDialog::Accepted)
            writeOperatorScript(&WriteInsertScript);
    });
}

void TAdminWizard::userEdtButtonClick()
{
    guarded([this] {
        if (EditOperator(current(m_wwdm->itOperator, QStringLiteral("USERGID"))) ==
            QDialog::Accepted)
            writeOperatorScript(&WriteUpdateScript);
    });
}

void TAdminWizard::userPwdButtonClick()
{
    guarded([this] {
        if (hasRows(&m_wwdm->itOperator))
            writeOperatorScript(&WritePasswordResetScript);
    });
}
