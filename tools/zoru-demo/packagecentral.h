#pragma once

// What the centre knows of the workstation a demo package comes from, read from the central
// database before the package is made: its operators, hospital, region, cities and the
// dictionaries its rows refer to.

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class TDatabase;

namespace demo::detail {

struct KnownCity
{
    int gid = 0;
    QString name, soato, okato;
    QVariant reggid;
    QStringList streets;
};

struct Central
{
    int wstGID = 0;
    QString wstName;
    QVariant hspGID, brgGID;
    std::vector<QVariantList> operators; // USERGID, USERNAME, USERHASH, USERLEVEL
    QVariantList hospital, hospType, region, brigade;
    std::vector<KnownCity> cities; // of the hospital's region first
    QSet<QString> soatos;
    QStringList posts;
    QStringList areaCodes;
    std::vector<int> docTypes, diagnoses, medicines;
    int maxWst = 0, maxHsp = 0, maxHtp = 0, maxReg = 0, maxBrg = 0, maxIdmu = 0, maxIdtmu = 0;
};

// The workstation of a hospital that `seed` picks, and what its package needs of the centre.
// Throws Exception when the central database lacks it.
Central readCentral(TDatabase &db, quint64 seed);

} // namespace demo::detail
