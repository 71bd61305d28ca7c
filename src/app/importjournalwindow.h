#pragma once

#include <QDate>
#include <QDialog>
#include <QVariant>
#include <memory>

class QComboBox;
class QDateEdit;
class QLayout;
class QPushButton;
class TCommonForm;
class TDataSetGrid;
class TDataSetModel;
class TDataSource;
class TDatabase;
class TQuery;

// The import journal: the runs, newest first, of one workstation or of all, started within a
// date range, what the selected run did to each table, and the rows it refused and skipped. The
// journal tables are created when the central database lacks them.
class TImportJournalForm : public QDialog
{
    Q_OBJECT

public:
    // center: the main window's central connection (used on this thread).
    explicit TImportJournalForm(TDatabase &center, QWidget *parent = nullptr);
    ~TImportJournalForm() override;

    // Shows the runs of workstation `wst` (Null: all) started from `from` to `to` inclusive.
    void SetFilter(const QVariant &wst, const QDate &from, const QDate &to);
    // Reads the journal again with the filter of the controls.
    void ApplyFilter();

    TQuery &Runs() const { return *m_runs; }
    TQuery &Tables() const { return *m_tables; }
    TQuery &Refused() const { return *m_refused; }

private:
    void fillWorkstations();
    void openWideEnough(const QLayout &layout);

    TDatabase &m_center;
    std::unique_ptr<TQuery> m_runs;
    std::unique_ptr<TDataSource> m_runsSource;
    std::unique_ptr<TQuery> m_tables;
    std::unique_ptr<TQuery> m_refused;
    std::unique_ptr<TDataSetModel> m_runsModel;
    std::unique_ptr<TDataSetModel> m_tablesModel;
    std::unique_ptr<TDataSetModel> m_refusedModel;
    TCommonForm *m_common = nullptr;
    QComboBox *cbWorkstation = nullptr;
    QDateEdit *dtFrom = nullptr;
    QDateEdit *dtTo = nullptr;
    TDataSetGrid *grdJournal = nullptr;
    TDataSetGrid *grdJournalTables = nullptr;
    TDataSetGrid *grdJournalRefused = nullptr;
    QPushButton *CloseBtn = nullptr;
    bool m_filling = false;
};
