#pragma once

#include <QDateTime>
#include <QDialog>
#include <QList>

class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class TCommonForm;
class TDatabase;
class TIniFile;
class TWorkstationStateFilter;
class TWorkstationStateModel;

// "Состояние рабочих станций": one row per workstation with its hospital or brigade, its last
// export, its last import (time, package label, result), the persons imported in the last 30
// days and the days since its last successful import; rows of workstations silent for longer
// than the limit (kept in the configuration file) stand out. Filters by region and "only
// silent"; a bar chart of the persons imported per day over the last 60 days (the span kept in
// the configuration beside the limit) for the selected
// workstations; a double-click opens the import journal of that workstation.
class TWorkstationStateForm : public QDialog
{
    Q_OBJECT

public:
    // center: the main window's central connection (used on this thread). ini: where the limit
    // of silence is kept (none: the default limit, not kept).
    TWorkstationStateForm(TDatabase &center, TIniFile *ini, QWidget *parent = nullptr);
    ~TWorkstationStateForm() override;

    // Reads the journals again.
    void Refresh();
    // The import journal of one workstation, over the days of the chart (a double-click).
    void OpenJournal(int wstGID);

    TWorkstationStateModel &Model() const { return *m_model; }
    QChart &Chart() const;

    // Closes the window; the limit of silence, when changed, is kept now.
    void done(int result) override;

private:
    void fillRegions();
    void applyFilter();
    void setSilentDays(int days);
    void updateChart();
    void updateSummary();

    TDatabase &m_center;
    TIniFile *m_ini;
    QDateTime m_now;     // the moment of the last reading
    int m_chartDays = 0; // the span of the chart, read once
    TCommonForm *m_common = nullptr;
    TWorkstationStateModel *m_model = nullptr;
    TWorkstationStateFilter *m_filter = nullptr;
    QComboBox *cbRegion = nullptr;
    QCheckBox *chkSilentOnly = nullptr;
    QSpinBox *seSilentDays = nullptr;
    QPushButton *btnRefresh = nullptr;
    QTableView *grdState = nullptr;
    QChartView *chtPersons = nullptr;
    QLabel *lblSummary = nullptr;
    QLabel *lblRunningImport = nullptr;
    QPushButton *CloseBtn = nullptr;
};
