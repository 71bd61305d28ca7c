#pragma once

#include "admin/admindialog.h"

#include <QVariant>
#include <memory>

class TSimpleDBObject;
class TTextListBox;
class TWWDM;

// Creates or changes one mobile brigade (a row of BRIGADE) and the hospitals it serves (its rows
// of BRIGHSP). Hospitals are shown by their full names and kept by their identifiers, so that
// equal or empty names cannot link the wrong hospital. The links are replaced as a whole, in one
// transaction with the brigade's row: a failure keeps the old state and the dialog open.
class TBrigadeDlg : public TAdminDialog
{
    Q_OBJECT
public:
    // linkTable: BRIGHSP; table: BRIGADE, opened by the caller. brgGID Null for a new brigade;
    // cityGID and regGID Null for the "ПРОЧИЕ..." rows.
    TBrigadeDlg(QWidget *owner, TWWDM &wwdm, const QVariant &cityGID, const QVariant &regGID,
                const QVariant &brgGID, TDataSet &linkTable, TDataSet &table);
    ~TBrigadeDlg() override;

    TSimpleDBObject &Record() const { return *FRecord; }

public Q_SLOTS:
    void IncludeBtnClick();
    void ExcludeBtnClick();
    void IncAllBtnClick();
    void ExcAllBtnClick();

protected:
    bool SaveRecord() override;

private:
    void UpdateMoveButtons();
    static int FirstSelected(const TTextListBox &box);
    static void MoveSelected(TTextListBox &from, TTextListBox &to);
    void SelectNear(TTextListBox &box, int index);
    static void MoveAll(TTextListBox &from, TTextListBox &to);
    void fillFrom(TDataSet &hospitals, TTextListBox &box);
    void saveLinks(int brgGID);

    TWWDM &FWWDM;
    TDataSet &FLinkTable;
    std::unique_ptr<TSimpleDBObject> FRecord;
    TTextListBox *SrcList = nullptr;
    TTextListBox *DstList = nullptr;
    QPushButton *IncludeBtn = nullptr;
    QPushButton *IncAllBtn = nullptr;
    QPushButton *ExcludeBtn = nullptr;
    QPushButton *ExAllBtn = nullptr;
};
