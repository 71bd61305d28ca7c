#include "admin/workstationdialog.h"

#include "admin/recordobjects.h"

#include <QLineEdit>

TWorkstationDialog::TWorkstationDialog(QWidget *owner, TDataSet &table, const QVariant &wstGID,
                                       const QVariant &hspGID, const QVariant &brgGID)
    : TAdminDialog(owner, QStringLiteral("WorkstationDialog"),
                   QStringLiteral("Информация о рабочей станции"), QStringLiteral("Отмена"))
{
    AddNameBox(QStringLiteral("Название"), table, QStringLiteral("WSTNAME"), 100);
    edName->setValidator(new TUpperCaseValidator(edName));
    edName->setMinimumWidth(260);

    FRecord = TSimpleDBObject::Create(table, nullptr, QStringLiteral("WstGID"));
    FRecord->LoadByKey({wstGID});
    FRecord->SetValue(QStringLiteral("HspGID"), hspGID);
    FRecord->SetValue(QStringLiteral("BrgGID"), brgGID);
    edName->setText(NullToStr(FRecord->GetValue(QStringLiteral("WstName"))));
    FinishLayout();
}

TWorkstationDialog::~TWorkstationDialog() = default;

bool TWorkstationDialog::SaveRecord()
{
    const auto name = CheckedName(QStringLiteral("Поле 'Название' не заполнено"));
    if (!name)
        return false;
    FRecord->SetValue(QStringLiteral("WstName"), *name);
    FRecord->Save();
    return true;
}
