#pragma once

#include "centraldb.h"

#include <QDateTime>

// A central database whose journals tell the state of five workstations, relative to `now`:
// regions 1 "Омская" and 2 "Тарский"; hospital 10 in region 1, hospital 11 in none; brigade 20
// of a settlement in region 2. Workstation 1 sent packages lately (its latest run failed; 7
// persons in 30 days), 2 went quiet 20 days ago (4 persons) and had an export fail 3 days ago,
// 3 never sent one but was given its package 5 days ago, 4 was never given one, 5 was given one
// 20 days ago and never answered.
namespace workstationstates {

// An import run that started `daysAgo` days before now and ended 90 seconds later, with the
// persons it wrote (new, changed) beside another table's rows.
inline void importRun(CentralDb &c, const QDateTime &now, int run, int wst, int daysAgo,
                      const QString &result, const QString &label, int newPersons,
                      int changedPersons)
{
    const QDateTime start = now.addDays(-daysAgo);
    c.Exec(QStringLiteral("INSERT INTO IMPORTJOURNAL (RUNGID, PKGNAME, PKGLABEL, WSTGID, "
                          "STARTTIME, ENDTIME, RESULT) VALUES (?, ?, ?, ?, ?, ?, ?)"),
           {run, QString(label + QStringLiteral(".w2s")), label, wst, start, start.addSecs(90),
            result});
    c.Exec(QStringLiteral("INSERT INTO IMPORTJOURNALTABLE VALUES (?, 1, 'City', 3, 0, 3, 0)"),
           {run});
    c.Exec(QStringLiteral("INSERT INTO IMPORTJOURNALTABLE VALUES (?, 2, 'Person', ?, ?, 0, 0)"),
           {run, newPersons, changedPersons});
}

inline void exportRun(CentralDb &c, const QDateTime &now, int wst, int daysAgo,
                      const QString &result)
{
    const QDateTime start = now.addDays(-daysAgo);
    c.Exec(QStringLiteral("INSERT INTO EXPORTJOURNAL (WSTGID, STARTTIME, ENDTIME, RESULT) "
                          "VALUES (?, ?, ?, ?)"),
           {wst, start, start.addSecs(30), result});
}

inline void fill(CentralDb &c, const QDateTime &now)
{
    c.Exec(QStringLiteral("INSERT INTO REGION (REGGID, REGNAME, REGOKATO) VALUES "
                          "(1, 'Омская', '52'), (2, 'Тарский', '52254')"));
    c.Exec(QStringLiteral("INSERT INTO HOSPITAL (HSPGID, IDMU, MU, REGGID) VALUES "
                          "(10, 1, 'Тарская ЦРБ', 1), (11, 2, 'ФАП, \"Северный\"', NULL)"));
    c.Exec(QStringLiteral(
        "INSERT INTO CITY (CITYGID, CITYNAME, CITYSOATO, REGGID) VALUES (5, 'Тара', '1', 2)"));
    c.Exec(QStringLiteral(
        "INSERT INTO BRIGADE (BRGGID, BRGNAME, CITYGID) VALUES (20, 'Бригада №1', 5)"));
    c.Exec(QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME, HSPGID, BRGGID) VALUES "
                          "(1, 'ЦРБ-1', 10, NULL), (2, 'Бр-1', NULL, 20), (3, 'ФАП-1', 11, NULL), "
                          "(4, 'ЦРБ-2', 10, NULL), (5, 'ЦРБ-3', 10, NULL)"));
    const QString ok = QStringLiteral("успешно");
    const QString failed = QStringLiteral("ошибка");
    importRun(c, now, 1, 1, 40, ok, QStringLiteral("000001_old"), 100, 0);
    importRun(c, now, 2, 1, 2, ok, QStringLiteral("000001_a"), 5, 2);
    importRun(c, now, 3, 1, 1, failed, QStringLiteral("000001_b"), 9, 9);
    importRun(c, now, 4, 2, 20, ok, QStringLiteral("000002_a"), 4, 0);
    exportRun(c, now, 2, 30, ok);
    exportRun(c, now, 2, 3, failed);
    exportRun(c, now, 3, 5, ok);
    exportRun(c, now, 5, 20, ok);
}

} // namespace workstationstates
