#pragma once

#include "engine/query.h"
#include "engine/table.h"

#include <QDateTime>
#include <QStringList>
#include <vector>

class TDatabase;

// TSIEDM: the data module of one job: central and package tables over two connections.
//
// The tables of one replication job: the central tables (on KZCenter), the tables of a
// workstation package with their derived columns (on ImportFromWst), the column lists that say
// which package columns reach the centre, the free queries and the export's own members.
// Every job creates its own instance on its worker thread.
class TSIEDM
{
public:
    // center: the job's connection to the central database; wst: its connection to the
    // unpacked package (may be null for a job that reads no package).
    TSIEDM(TDatabase *center, TDatabase *wst);
    ~TSIEDM();
    TSIEDM(const TSIEDM &) = delete;
    TSIEDM &operator=(const TSIEDM &) = delete;

    TDatabase *Center() const { return m_center; }
    TDatabase *Wst() const { return m_wst; }

    // The eleven package tables (wstCity ... wstMapDiag), in the order they are imported.
    std::vector<TTable *> PackageTables();
    // Points the package tables and qrWST at another package connection.
    void SetWstDatabase(TDatabase *wst);

    // Central tables.
    TTable itCity, itStreet, itPost, itRegistrationArea, itAddress, itPerson, itDocument,
        itPrimaryInspection, itPrimDiag, itMapScrining, itMapDiag, itAuxCity, itAuxStreet,
        itAuxPost, itAuxRegistrationArea, itWorkStation, itOperator, itBrigade, itBrigHsp,
        itHospital, itHospType;

    // Workstation-to-server package tables, with their derived columns.
    TTable wstCity, wstStreet, wstPost, wstRegistrationArea, wstAddress, wstPerson, wstDocument,
        wstPrimaryInspection, wstPrimDiag, wstMapScrining, wstMapDiag;

    // Column lists: package columns (stored or derived) written to the central column of the
    // same name, in writing order.
    QStringList colCity, colStreet, colPost, colRegistrationArea, colAddress, colPerson,
        colDocument, colPrimaryInspection, colDocDiag, colMapScrining;

    // Free statements on the central database and on the package.
    TQuery qrSRV;
    TQuery qrWST;

    // Export: the workstation with its hospital and brigade (parameter WSTGID), the central
    // query of one table (macros TABLE and FILTER) and the package table being filled.
    TQuery sqlWstPick;
    TQuery imTable;
    TTable exTable;

    // The package script that creates the ten server-to-workstation tables.
    static QString RplGen();
    // Runs RplGen against a folder database (which must not hold these tables yet).
    static void RunRplGen(TDatabase &folder);
    // Names of the ten server-to-workstation tables, in script order.
    static const QStringList &SrvToWstTableNames();

private:
    void defineCentralTables();
    void definePackageTables();
    void defineColumnLists();
    void defineQueries();

    TDatabase *m_center;
    TDatabase *m_wst;
};
