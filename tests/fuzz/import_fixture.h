#pragma once

#include "commands.h"
#include "installation.h"
#include "package.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

// What the package fuzzer starts from: a small demo installation (its SQLite central database is
// copied for every run) and a package of a few persons of one of its workstations, made by the
// demo generator and packed by the archiver, then unpacked into `tables`. The same seed always
// gives the same rows.
struct ImportFixture
{
    QString centralTemplate; // the demo central database
    QString package;         // first volume of the packed package (a single volume)
    QString tables;          // the package unpacked: its .DB files
};

// Builds the fixture under `root`; appFolder holds the archiver. Throws on failure.
inline ImportFixture makeImportFixture(const QString &root, const QString &appFolder)
{
    demo::Options install;
    install.folder = root + QStringLiteral("/demo");
    install.scale = 0.01;
    install.seed = 3;
    demo::CreateInstallation(install);
    demo::PackageOptions options;
    options.folder = install.folder;
    options.appFolder = appFolder;
    options.persons = 12;
    options.seed = 3;
    const demo::PackageSummary summary = demo::WritePackage(options);
    ImportFixture f;
    f.centralTemplate = install.folder + QStringLiteral("/data/central.db");
    f.package = summary.firstVolume;
    f.tables = root + QStringLiteral("/tables");
    arc::Extract(f.package, f.tables);
    return f;
}

// Input layout of the fuzzer: 'T', the index of a table in demo::PackageTableNames() (taken
// modulo their number), then the bytes of that table's .DB file put into the unpacked package in
// place of its own; anything else: one byte of mode, then the bytes of the package's first (and
// only) volume.
inline constexpr char TableInput = 'T';
inline constexpr char ArchiveInput = 'A';
