#include "admin/brigadedialog.h"

#include "admin/recordobjects.h"
#include "admin/wizarddata.h"
#include "engine/database.h"
#include "engine/dataset.h"
#include "engine/transaction.h"
#include "ui/textlistbox.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

namespace {

// The hospital identifier an item stands for.
constexpr int kHspGIDRole = Qt::UserRole;

QPushButton *moveButton(const QString &name, const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setFixedWidth(32);
    b->setAutoDefault(false);
    return b;
}

TTextListBox *hospitalList(const QString &name, QWidget *parent)
{
    auto *box = new TTextListBox(parent);
    box->setObjectName(name);
    box->setSortingEnabled(true);
    box->setSelectionMode(QAbstractItemView::ExtendedSelection);
    box->setMinimumSize(230, 180);
    return box;
}

} // namespace

TBrigadeDlg::TBrigadeDlg(QWidget *owner, TWWDM &wwdm, const QVariant &cityGID,
                         const QVariant &regGID, const QVariant &brgGID, TDataSet &linkTable,
                         TDataSet &table)
    : TAdminDialog(owner, QStringLiteral("BrigadeDlg"),
                   QStringLiteral("Информация о выездной бригаде"), QStringLiteral("Cancel")),
      FWWDM(wwdm), FLinkTable(linkTable)
{
    AddNameBox(QStringLiteral("Название"), table, QStringLiteral("BRGNAME"), 255);

    auto *group = new QGroupBox(QStringLiteral("Укажите ЛПУ из списка доступных"), m_frame);
    group->setObjectName(QStringLiteral("GroupBox1"));
    auto *grid = new QGridLayout(group);
    SrcList = hospitalList(QStringLiteral("SrcList"), group);
    DstList = hospitalList(QStringLiteral("DstList"), group);
    auto *srcLabel = new QLabel(QStringLiteral("Доступные ЛПУ:"), group);
    srcLabel->setBuddy(SrcList);
    auto *dstLabel = new QLabel(QStringLiteral("Выбранные ЛПУ:"), group);
    dstLabel->setBuddy(DstList);
    IncludeBtn = moveButton(QStringLiteral("IncludeBtn"), QStringLiteral(">"), group);
    IncAllBtn = moveButton(QStringLiteral("IncAllBtn"), QStringLiteral(">>"), group);
    ExcludeBtn = moveButton(QStringLiteral("ExcludeBtn"), QStringLiteral("<"), group);
    ExAllBtn = moveButton(QStringLiteral("ExAllBtn"), QStringLiteral("<<"), group);
    ExcludeBtn->setEnabled(false);
    ExAllBtn->setEnabled(false);
    auto *moves = new QVBoxLayout;
    moves->addStretch(1);
    for (QPushButton *b : {IncludeBtn, IncAllBtn, ExcludeBtn, ExAllBtn})
        moves->addWidget(b);
    moves->addStretch(1);
    grid->addWidget(srcLabel, 0, 0);
    grid->addWidget(dstLabel, 0, 2);
    grid->addWidget(SrcList, 1, 0);
    grid->addLayout(moves, 1, 1);
    grid->addWidget(DstList, 1, 2);

    m_fields->addWidget(group, 2, 0);

    connect(IncludeBtn, &QPushButton::clicked, this, &TBrigadeDlg::IncludeBtnClick);
    connect(ExcludeBtn, &QPushButton::clicked, this, &TBrigadeDlg::ExcludeBtnClick);
    connect(IncAllBtn, &QPushButton::clicked, this, &TBrigadeDlg::IncAllBtnClick);
    connect(ExAllBtn, &QPushButton::clicked, this, &TBrigadeDlg::ExcAllBtnClick);

    FRecord = TSimpleDBObject::Create(table, nullptr, QStringLiteral("BrgGID"));
    FRecord->LoadByKey({brgGID});
    FRecord->SetValue(QStringLiteral("CityGID"), cityGID);
    edName->setText(NullToStr(FRecord->GetValue(QStringLiteral("BrgName"))));

    // The hospitals of the region (or without one) not linked to the brigade yet.
    TQuery &avail = FWWDM.sqlAvailLPU;
    avail.Close();
    avail.SetFilter(regGID.isNull()
                        ? QStringLiteral("REGGID IS NULL")
                        : QStringLiteral("REGGID=") + QString::number(regGID.toLongLong()));
    avail.SetFiltered(true);
    avail.ParamByName(QStringLiteral("BRGGID")).SetValue(brgGID);
    fillFrom(avail, *SrcList);
    // The linked ones, of whatever region.
    TQuery &linked = FWWDM.sqlLinkedLPU;
    linked.Close();
    linked.ParamByName(QStringLiteral("BRGGID")).SetValue(brgGID);
    fillFrom(linked, *DstList);

    UpdateMoveButtons();
    FinishLayout();
}

TBrigadeDlg::~TBrigadeDlg() = default;

void TBrigadeDlg::fillFrom(TDataSet &hospitals, TTextListBox &box)
{
    hospitals.Open();
    const TCloseOnExit closer{&hospitals};
    for (hospitals.First(); !hospitals.Eof(); hospitals.Next()) {
        QString text = NullToStr(hospitals.FieldByName(QStringLiteral("MUFL"))->AsVariant());
        if (text.trimmed().isEmpty()) // a hospital without full name still needs a face
            text = NullToStr(hospitals.FieldByName(QStringLiteral("MU"))->AsVariant());
        auto *item = new QListWidgetItem(text);
        item->setData(kHspGIDRole, hospitals.FieldByName(QStringLiteral("HSPGID"))->AsLargeInt());
        box.addItem(item);
    }
}

void TBrigadeDlg::UpdateMoveButtons()
{
    IncludeBtn->setEnabled(SrcList->count() > 0);
    IncAllBtn->setEnabled(SrcList->count() > 0);
    ExcludeBtn->setEnabled(DstList->count() > 0);
    ExAllBtn->setEnabled(DstList->count() > 0);
}

int TBrigadeDlg::FirstSelected(const TTextListBox &box)
{
    for (int i = 0; i < box.count(); ++i)
        if (box.item(i)->isSelected())
            return i;
    return -1;
}

void TBrigadeDlg::MoveSelected(TTextListBox &from, TTextListBox &to)
{
    for (int i = from.count() - 1; i >= 0; --i) {
        if (!from.item(i)->isSelected())
            continue;
        QListWidgetItem *item = from.takeItem(i);
        item->setSelected(false);
        to.addItem(item);
    }
}

void TBrigadeDlg::MoveAll(TTextListBox &from, TTextListBox &to)
{
    while (from.count() > 0) {
        QListWidgetItem *item = from.takeItem(0);
        item->setSelected(false);
        to.addItem(item);
    }
}

void TBrigadeDlg::SelectNear(TTextListBox &box, int index)
{
    box.setFocus();
    if (box.count() > 0) {
        index = qBound(0, index, box.count() - 1);
        box.setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    }
    UpdateMoveButtons();
}

void TBrigadeDlg::IncludeBtnClick()
{
    const int i = FirstSelected(*SrcList);
    MoveSelected(*SrcList, *DstList);
    SelectNear(*SrcList, i);
}

void TBrigadeDlg::ExcludeBtnClick()
{
    const int i = FirstSelected(*DstList);
    MoveSelected(*DstList, *SrcList);
    SelectNear(*DstList, i);
}

void TBrigadeDlg::IncAllBtnClick()
{
    MoveAll(*SrcList, *DstList);
    SelectNear(*SrcList, 0);
}

void TBrigadeDlg::ExcAllBtnClick()
{
    MoveAll(*DstList, *SrcList);
    SelectNear(*DstList, 0);
}

bool TBrigadeDlg::SaveRecord()
{
    const auto name = CheckedName(QStringLiteral("Поле 'Название' не заполнено"));
    if (!name)
        return false;
    const QVariant previousGID = FRecord->GetValue(QStringLiteral("BrgGID"));
    // The brigade and its links are written together; a folder database has no transactions.
    std::optional<TTransaction> transaction;
    if (TDatabase *db = FRecord->DataSet().Database(); db && !db->IsFolder())
        transaction.emplace(*db);
    try {
        FRecord->SetValue(QStringLiteral("BrgName"), *name);
        FRecord->Save();
        saveLinks(static_cast<int>(FRecord->GetValue(QStringLiteral("BRGGID")).toLongLong()));
        if (transaction)
            transaction->Commit();
    } catch (...) {
        // Rolled back: a new brigade has no row and no identifier yet.
        FRecord->SetValue(QStringLiteral("BrgGID"), previousGID);
        throw;
    }
    return true;
}

void TBrigadeDlg::saveLinks(int brgGID)
{
    TQuery &clean = FWWDM.sqlCleanBrigHosp;
    clean.ParamByName(QStringLiteral("BRGGID")).SetAsInteger(brgGID);
    clean.ExecSQL();
    FLinkTable.Open();
    const TCloseOnExit closer{&FLinkTable};
    for (int i = 0; i < DstList->count(); ++i) {
        FLinkTable.Append();
        FLinkTable.FieldByName(QStringLiteral("BrgGID"))->SetAsInteger(brgGID);
        FLinkTable.FieldByName(QStringLiteral("HspGID"))
            ->SetAsInteger(DstList->item(i)->data(kHspGIDRole).toLongLong());
        FLinkTable.Post();
    }
}
