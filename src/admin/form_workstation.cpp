#include "admin/form_workstation.h"

#include "admin/dbobjects.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

TWorkstationDialog::TWorkstationDialog(QWidget *owner, TDataSet &table, const QVariant &wstGID,
                                       const QVariant &hspGID, const QVariant &brgGID)
    : TAdminDialog(owner, QStringLiteral("WorkstationDialog"),
                   QStringLiteral("Информация о рабочей станции"), QStringLiteral("Отмена"))
{
    auto *label = new QLabel(QStringLiteral("Название"), m_frame);
    label->setBuddy(edName);
    m_fields->addWidget(label, 0, 0);
    m_fields->addWidget(edName, 1, 0);
    edName->setValidator(new TUpperCaseValidator(edName));
    edName->setMinimumWidth(260);
    LimitName(table, QStringLiteral("WSTNAME"), 100);

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
