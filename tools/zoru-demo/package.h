#pragma once

#include <QString>
#include <utility>
#include <vector>

// A package that a demo workstation sends to the centre (".w2s"): its dictionary entries,
// persons, addresses, documents with inspections, screening cards and diagnoses, and its copies
// of the operator, workstation, hospital, hospital type, region and brigade tables, packed by
// the archiver into the installation's import folder.
namespace paradox {
struct Schema;
}

namespace demo {

struct PackageOptions
{
    QString folder;    // the installation (program folder with its configuration and aliases)
    QString appFolder; // where the archiver lies; the folder itself when empty
    int persons = 1000;
    bool newWorkstation = false; // a workstation, operators and hospital the centre does not know
    quint64 seed = 1;
    QString password; // for a central database on a server; ZORU_PASSWORD when empty
};

struct PackageSummary
{
    QString firstVolume; // full path of the ".w2s" file
    int wstGID = 0;
    QString wstName;
    // Rows per package table, in the order the import merges them, then the six copies.
    std::vector<std::pair<QString, int>> counts;
};

// Package file names: the workstation table names in the import's order, then the copies.
const std::vector<QString> &PackageTableNames();
// The layout of one of those tables; throws Exception for another name.
const paradox::Schema &PackageTableSchema(const QString &name);

// Reads what the centre knows (the workstation, its hospital, cities, streets, dictionaries),
// makes up the package and packs it. Throws Exception with a Russian message; no volume and no
// work folder of a failed run is left behind.
PackageSummary WritePackage(const PackageOptions &options);

} // namespace demo
