#pragma once

#include "admin/admindialog.h"

#include <QVariant>
#include <memory>

class QComboBox;
class TSimpleDBObject;

// Creates or changes one operator of a workstation (a row of OPERATOR). Every save leaves the
// operator without a password (hash "0"); the workstation receives the same change as a script.
class TOperatorDlg : public TAdminDialog
{
    Q_OBJECT
public:
    // table: OPERATOR, opened by the caller. userGID Null for a new operator.
    TOperatorDlg(QWidget *owner, const QVariant &wstGID, const QVariant &userGID, TDataSet &table);
    ~TOperatorDlg() override;

    TSimpleDBObject &Record() const { return *FRecord; }

protected:
    bool SaveRecord() override;

private:
    TDataSet &FDataSet;
    QVariant FWstGID;
    std::unique_ptr<TSimpleDBObject> FRecord;
    QComboBox *cbLevel = nullptr;
};
