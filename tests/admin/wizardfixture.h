#pragma once

// A central database with a small administration world, and a program folder configured as the
// server with an export folder, for the window tests of the wizard and its dialogs.

#include "../app/shellfixture.h"
#include "../data/centraldb.h"
#include "core/appinfo.h"
#include "core/cp1251.h"
#include "data/srvrplthread.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QTableView>

//   REGION   1 ОМСКАЯ ОБЛАСТЬ, 2 ТЮМЕНСКАЯ ОБЛАСТЬ (no hospitals)
//   HOSPITAL 10 АЛЕКСЕЕВСКАЯ ЦРБ, 11 ТАРСКАЯ ЦРБ (region 1), 12 ФАП БЕЗ РЕГИОНА
//   CITY     30 АЛЕКСЕЕВКА, 31 ТАРА (region 1), 33 г. Тобольск (region 2), 32 ХУТОР (none)
//   BRIGADE  20 БРИГАДА 1 (city 30, serves 10), 21 БРИГАДА ПРОЧАЯ (no city)
//   WORKSTATION 1 РЕГИСТРАТУРА (hospital 10), 2 ПЕРЕДВИЖНАЯ (brigade 20)
//   OPERATOR ИВАНОВ on 1 (hash "abc", operator)
inline void fillAdministration(CentralDb &c)
{
    c.Exec(QStringLiteral("INSERT INTO REGION VALUES (1, 'ОМСКАЯ ОБЛАСТЬ', '52000000000')"));
    c.Exec(QStringLiteral("INSERT INTO REGION VALUES (2, 'ТЮМЕНСКАЯ ОБЛАСТЬ', '71000000000')"));
    const QString hsp = QStringLiteral(
        "INSERT INTO HOSPITAL (HSPGID, IDMU, MU, MUFL, REGGID) VALUES (?, ?, ?, ?, ?)");
    c.Exec(hsp, {10, 100, QStringLiteral("АЛЕКСЕЕВСКАЯ ЦРБ"),
                 QStringLiteral("Алексеевская центральная районная больница"), 1});
    c.Exec(hsp, {11, 101, QStringLiteral("ТАРСКАЯ ЦРБ"),
                 QStringLiteral("Тарская центральная районная больница"), 1});
    c.Exec(hsp, {12, 102, QStringLiteral("ФАП БЕЗ РЕГИОНА"), QStringLiteral("ФАП без региона"),
                 QVariant()});
    const QString city = QStringLiteral("INSERT INTO CITY VALUES (?, ?, ?, ?, ?)");
    c.Exec(city, {30, QStringLiteral("АЛЕКСЕЕВКА"), QStringLiteral("1"), QStringLiteral("1"), 1});
    c.Exec(city, {31, QStringLiteral("ТАРА"), QStringLiteral("2"), QStringLiteral("2"), 1});
    c.Exec(city,
           {32, QStringLiteral("ХУТОР"), QStringLiteral("3"), QStringLiteral("3"), QVariant()});
    c.Exec(city, {33, QStringLiteral("г. Тобольск"), QStringLiteral("4"), QStringLiteral("4"), 2});
    c.Exec(QStringLiteral("INSERT INTO BRIGADE VALUES (20, 'БРИГАДА 1', 30)"));
    c.Exec(QStringLiteral("INSERT INTO BRIGADE VALUES (21, 'БРИГАДА ПРОЧАЯ', NULL)"));
    c.Exec(QStringLiteral("INSERT INTO BRIGHSP VALUES (10, 20)"));
    const QString wst = QStringLiteral(
        "INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID) VALUES (?, ?, ?, ?)");
    c.Exec(wst, {1, QStringLiteral("РЕГИСТРАТУРА"), 10, QVariant()});
    c.Exec(wst, {2, QStringLiteral("ПЕРЕДВИЖНАЯ"), QVariant(), 20});
    c.Exec(QStringLiteral("INSERT INTO OPERATOR VALUES (1, 1, 'ИВАНОВ', 'abc', 0)"));
}

// The program folder: the server, exporting the administration tables into "export".
struct WizardFixture : ShellFixture
{
    explicit WizardFixture(const QString &backend)
    {
        central = std::make_unique<CentralDb>(backend);
        fillAdministration(*central);
        const QString ini =
            QStringLiteral("[Settings]\r\nIsServer=1\r\nAIS_RODE_EXPORT=%1\r\n\r\n"
                           "[Server-To-Workstation Replicated Tables]\r\nWORKSTATION=\r\n"
                           "BRIGADE=\r\nBrigHsp=\r\nHOSPITAL=\r\nREGION=\r\n")
                .arg(exportDir() + QDir::separator());
        QFile f(iniPath());
        f.open(QIODevice::WriteOnly);
        f.write(cp1251::encode(ini));
        f.close();
        info = std::make_unique<TAppInfo>(exePath(), aliases);
        AppInfo = info.get();
        QDir().mkpath(exportDir());
        info->ExportPath = exportDir() + QDir::separator();
        SetCentralDatabase(&central->Db());
    }
    ~WizardFixture() { SetCentralDatabase(nullptr); }

    QString exportDir() const { return dir.filePath(QStringLiteral("export")); }
    TDatabase &db() { return central->Db(); }

    std::unique_ptr<CentralDb> central;
};

// The texts of the first column of a grid, top to bottom.
inline QStringList gridRows(QWidget *window, const QString &grid)
{
    QStringList rows;
    auto *view = window->findChild<QTableView *>(grid);
    if (!view)
        qFatal("no grid %s", qPrintable(grid));
    const QAbstractItemModel *m = view->model();
    for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString();
    return rows;
}

// Makes the row whose first column reads text the grid's current row; false when there is none.
inline bool pickRow(QWidget *window, const QString &grid, const QString &text)
{
    auto *view = window->findChild<QTableView *>(grid);
    const QAbstractItemModel *m = view->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        if (m->index(r, 0).data().toString() == text) {
            view->setCurrentIndex(m->index(r, 0));
            return true;
        }
    }
    return false;
}

// The text of the first column of the grid's current row.
inline QString currentRow(QWidget *window, const QString &grid)
{
    auto *view = window->findChild<QTableView *>(grid);
    return view->currentIndex().siblingAtColumn(0).data().toString();
}
