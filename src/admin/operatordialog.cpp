#include "admin/operatordialog.h"

#include "admin/recordobjects.h"
#include "engine/dataset.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

TOperatorDlg::TOperatorDlg(QWidget *owner, const QVariant &wstGID, const QVariant &userGID,
                           TDataSet &table)
    : TAdminDialog(owner, QStringLiteral("OperatorDlg"), QStringLiteral("Данные об операторе"),
                   QStringLiteral("Отмена")),
      FDataSet(table), FWstGID(wstGID)
{
    AddNameBox(QStringLiteral("Имя пользователя"), table, QStringLiteral("USERNAME"), 20);
    edName->setValidator(new TUpperCaseValidator(edName));
    edName->setMinimumWidth(200);
    cbLevel = new QComboBox(m_frame);
    cbLevel->setObjectName(QStringLiteral("cbLevel"));
    cbLevel->setEditable(false);
    cbLevel->addItems({QStringLiteral("ОПЕРАТОР"), QStringLiteral("АДМИНИСТРАТОР")});
    auto *levelLabel = new QLabel(QStringLiteral("Группа"), m_frame);
    levelLabel->setBuddy(cbLevel);
    m_fields->addWidget(levelLabel, 2, 0);
    m_fields->addWidget(cbLevel, 3, 0);

    FRecord = TSimpleDBObject::Create(table, nullptr, QStringLiteral("UserGID;WstGID"));
    FRecord->LoadByKey({userGID, wstGID});
    FRecord->SetValue(QStringLiteral("WstGID"), wstGID);
    edName->setText(NullToStr(FRecord->GetValue(QStringLiteral("UserName"))));
    cbLevel->setCurrentIndex(NullToInt(FRecord->GetValue(QStringLiteral("UserLevel"))));
    FinishLayout();
}

TOperatorDlg::~TOperatorDlg() = default;

bool TOperatorDlg::SaveRecord()
{
    const auto name = CheckedName(QStringLiteral("Поле 'Имя пользователя' не заполнено"));
    if (!name)
        return false;
    FRecord->SetValue(QStringLiteral("UserName"), *name);
    FRecord->SetValue(QStringLiteral("UserLevel"), cbLevel->currentIndex());
    FRecord->SetValue(QStringLiteral("UserHash"), QStringLiteral("0"));
    FRecord->Save();
    // The table stands on the saved operator, so that the wizard finds its new UserGID.
    FDataSet.Locate(QStringLiteral("USERNAME;WSTGID"), QVariantList{*name, FWstGID});
    return true;
}
