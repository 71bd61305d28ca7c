#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <deque>
#include <vector>

class TDatabase;

// The rows of a demo installation, made up in memory before anything is written, so that the
// same seed and scale give the same rows whatever database receives them.
namespace demo {

// One table's rows; every row has one value per column, Null written as an invalid QVariant.
struct TableRows
{
    QString name;
    QStringList columns;
    std::vector<QVariantList> rows;
};

struct DemoData
{
    // In the order they are written (a deque: rows are added to tables already handed out).
    std::deque<TableRows> central;
    std::deque<TableRows> esvs;
    // Workstations worth trying the export with.
    int hospitalWst = 0; // a hospital workstation (HSPGID only)
    int brigadeWst = 0;  // a brigade workstation with linked hospitals (BRGGID only)
    int bothWst = 0;     // a workstation with both, 0 when the scale left none
    QString hospitalWstName;
    QString brigadeWstName;

    const TableRows *Central(const QString &name) const;
    const TableRows *Esvs(const QString &name) const;
};

// Base counts at scale 1; every count below is multiplied by the scale (at least a small
// minimum, so that even a tiny scale makes a usable installation).
inline constexpr int BaseHospitals = 2000;
inline constexpr int BaseBrigades = 60;
inline constexpr int BaseHospitalWorkstations = 150;
inline constexpr int BaseDiagnoses = 3000;
inline constexpr int BaseMedicines = 300;

int ScaledCount(int base, double scale, int minimum);

DemoData BuildDemoData(double scale, quint64 seed);

// Inserts the rows with one prepared statement per table, inside the caller's transaction.
// Throws EDBEngineError with the engine's message.
void WriteTables(TDatabase &db, const std::deque<TableRows> &tables);

} // namespace demo
