#pragma once

// The workstation administration wizard: from the kind of workstation through region, hospital or
// settlement and brigade to a workstation and its operators; creates brigades, workstations and
// operators, changes brigades and operators, clears passwords (each operator change also as a
// script for the workstation) and starts the export to a workstation.

#include <QDialog>
#include <QVariant>
#include <array>
#include <memory>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TDataSet;
class TDataSetGrid;
class TDataSetModel;
class TDatabase;
class TQuery;
class TSIEDM;
class TWWDM;
struct TOperatorValues;

class TAdminWizard : public QDialog
{
    Q_OBJECT
public:
    // center: the central connection (KZCenter), connected. Throws what opening the lists throws.
    explicit TAdminWizard(QWidget *owner, TDatabase &center);
    ~TAdminWizard() override;

    // 1 for a hospital workstation, 2 for a brigade workstation, 0 before the choice.
    int WorkstationType() const;
    // "%" + text with every blank turned into "%%" + "%": the words in this order, anywhere.
    static QString MakeLikePattern(const QString &text);

    TWWDM &WWDM() const { return *m_wwdm; }

    // Modal results of the dialogs (QDialog::Accepted or Rejected).
    int EditBrigade(const QVariant &brgGID);
    int EditWorkstation(const QVariant &wstGID);
    int EditOperator(const QVariant &userGID);

public Q_SLOTS:
    void UpdatePages();
    void NextButtonClick();
    void PrevButtonClick();
    void pcWstWizChange();
    void rbHospitalClick();
    void edRegionFilterChange();
    void edHospitalFilterChange();
    void edCityFilterChange();
    void brgAddButtonClick();
    void brgEdtButtonClick();
    void wstAddButtonClick();
    void wstSendButtonClick();
    void userAddButtonClick();
    void userEdtButtonClick();
    void userPwdButtonClick();

private:
    struct FilterStrip
    {
        QLineEdit *edit = nullptr;
        QGroupBox *mode = nullptr;
        QRadioButton *quick = nullptr;
        QRadioButton *full = nullptr;
    };

    void buildWindow();
    void connectHandlers();
    QWidget *addPage(const QString &name, const QString &tab, const QString &group,
                     QWidget *&content);
    FilterStrip addFilterStrip(QWidget *parent, const QString &edit, const QString &mode);
    TDataSetGrid *addGrid(QWidget *parent, const QString &name);
    QPushButton *addButton(QWidget *parent, const QString &name, const QString &caption);
    void FormCreate();
    void FormDestroy();
    void ApplyQuickFilter(TDataSet &query, TDataSet &list, const QString &text,
                          const QString &field);
    // A filter box changed: the quick filter on field of query, or the "Полный" pattern (set
    // through setPattern), then list shows the result.
    void FilterChange(const FilterStrip &box, TQuery &query, TDataSet &list, const QString &field,
                      bool patternCleared, void (TWWDM::*setPattern)(const QString &));
    TDataSet *parentList() const;
    // Writes an operator script for the current operator row; errors are shown here.
    void writeOperatorScript(QStringList (*statement)(const TOperatorValues &));
    // Runs a handler's body; an error goes to the error box and the window stays open.
    template <typename F> void guarded(F &&body);

    TDatabase &m_center;
    std::unique_ptr<TWWDM> m_wwdm;
    std::unique_ptr<TSIEDM> m_siedm;
    // The grids' models, freed before the datasets they show.
    std::array<std::unique_ptr<TDataSetModel>, 6> m_models;
    // Handlers reach the data modules only between the end of FormCreate and the start of
    // FormDestroy.
    bool m_ready = false;
    bool m_updating = false;

    QTabWidget *pcWstWiz = nullptr;
    QRadioButton *rbHospital = nullptr;
    QRadioButton *rbBrigade = nullptr;
    FilterStrip m_region, m_hospital, m_city;
    TDataSetGrid *grdRegion = nullptr, *grdHospital = nullptr, *grdCity = nullptr,
                 *grdBrigade = nullptr, *grdWorkstation = nullptr, *grdOperator = nullptr;
    QPushButton *brgAddButton = nullptr, *brgEdtButton = nullptr, *wstAddButton = nullptr,
                *wstSendButton = nullptr, *userAddButton = nullptr, *userEdtButton = nullptr,
                *userPwdButton = nullptr;
    QPushButton *PrevButton = nullptr, *NextButton = nullptr, *CancelButton = nullptr;
};
