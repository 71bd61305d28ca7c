#pragma once

#include "admin/admindialog.h"

#include <QVariant>
#include <memory>

class TSimpleDBObject;

// Creates or renames one workstation (a row of WORKSTATION). A new workstation belongs to the
// hospital or to the brigade the wizard passes in; the other link stays empty.
class TWorkstationDialog : public TAdminDialog
{
    Q_OBJECT
public:
    // table: WORKSTATION, opened by the caller. wstGID Null for a new workstation.
    TWorkstationDialog(QWidget *owner, TDataSet &table, const QVariant &wstGID,
                       const QVariant &hspGID, const QVariant &brgGID);
    ~TWorkstationDialog() override;

    TSimpleDBObject &Record() const { return *FRecord; }

protected:
    bool SaveRecord() override;

private:
    std::unique_ptr<TSimpleDBObject> FRecord;
};
