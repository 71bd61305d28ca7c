#pragma once

// The central rows the export tests work on: regions, hospital types, hospitals of every kind
// (with and without a type, names that are no file names), brigades with and without hospitals,
// workstations at a hospital, with a brigade, with both and with neither, and the dictionaries.

#include "centraldb.h"

#include <QDateTime>
#include <QStringList>

namespace exportsite {

// Every server-to-workstation table, as the configuration lists them.
inline const QStringList kAllTables = {
    QStringLiteral("WORKSTATION"), QStringLiteral("BRIGADE"),  QStringLiteral("BrigHsp"),
    QStringLiteral("HOSPITAL"),    QStringLiteral("HOSPTYPE"), QStringLiteral("REGION"),
    QStringLiteral("DIAGNOSIS"),   QStringLiteral("DOCTYPE"),  QStringLiteral("MEDPREPARAT"),
    QStringLiteral("MEDPREPGROUP")};

inline void fill(CentralDb &c)
{
    const QDateTime t(QDate(2004, 2, 29), QTime(23, 59, 58));
    c.Exec(QStringLiteral("INSERT INTO REGION VALUES (1, 'Омская область', '52000000000')"));
    c.Exec(QStringLiteral("INSERT INTO REGION VALUES (2, 'Тюменская область', '71000000000')"));
    c.Exec(QStringLiteral("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU, CODTMU, BGDATE) VALUES (5, 1, "
                          "'Центральная районная больница', 'ЦРБ', ?)"),
           {t});
    c.Exec(QStringLiteral("INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU, CODTMU) VALUES (6, 2, "
                          "'Фельдшерско-акушерский пункт', 'ФАП')"));
    c.Exec(QStringLiteral(
        "INSERT INTO HOSPTYPE (HTPGID, IDTMU, TMU) VALUES (7, 3, 'Не используется')"));
    const QString hsp = QStringLiteral(
        "INSERT INTO HOSPITAL (HSPGID, IDMU, MU, MUFL, OFFICE, HOUSE, BGDATE, HTPGID, REGGID) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, 1)");
    c.Exec(hsp, {10, 100, QStringLiteral("Тарская ЦРБ"),
                 QStringLiteral("МУЗ «Тарская центральная районная больница»"), 1, 12, t, 5});
    c.Exec(hsp,
           {11, 101, QStringLiteral("ФАП д. Ложниково"), QVariant(), 0, QVariant(), QVariant(), 6});
    c.Exec(hsp,
           {12, 102, QStringLiteral("Знаменская ЦРБ"), QVariant(), QVariant(), 3, QVariant(), 5});
    c.Exec(hsp,
           {13, 103, QStringLiteral("МУЗ \"Городская клиническая больница\" №1 г/о: Омск\\Север"),
            QVariant(), 0, QVariant(), QVariant(), 5});
    c.Exec(hsp, {14, 104, QStringLiteral("ФАП без типа"), QVariant(), 0, QVariant(), QVariant(),
                 QVariant()});
    c.Exec(QStringLiteral("INSERT INTO BRIGADE VALUES (20, 'Выездная бригада №1', NULL)"));
    c.Exec(QStringLiteral("INSERT INTO BRIGADE VALUES (21, 'Бригада без ЛПУ', NULL)"));
    c.Exec(QStringLiteral("INSERT INTO BRIGHSP VALUES (11, 20)"));
    c.Exec(QStringLiteral("INSERT INTO BRIGHSP VALUES (12, 20)"));
    const QString wst = QStringLiteral("INSERT INTO WORKSTATION VALUES (?, ?, ?, ?, ?)");
    c.Exec(wst, {1, QStringLiteral("Регистратура Тарской ЦРБ"), t, 10, QVariant()});
    c.Exec(wst, {2, QStringLiteral("Бригада 1"), QVariant(), QVariant(), 20});
    c.Exec(wst, {3, QStringLiteral("Бригада 2"), QVariant(), QVariant(), 21});
    c.Exec(wst, {4, QStringLiteral("Смешанная"), QVariant(), 10, 20});
    c.Exec(wst, {5, QStringLiteral("Сирота"), QVariant(), QVariant(), QVariant()});
    c.Exec(wst, {6, QStringLiteral("АРМ \"1\"/2:3\\4 кабинет"), QVariant(), 13, QVariant()});
    c.Exec(wst, {7, QStringLiteral("Без типа"), QVariant(), 14, QVariant()});
    for (int i = 1; i <= 30; ++i)
        c.Exec(QStringLiteral("INSERT INTO DIAGNOSIS VALUES (?, ?, ?)"),
               {i, QStringLiteral("Гипертоническая болезнь %1 ст.").arg(i), 1000 + i});
    c.Exec(QStringLiteral("INSERT INTO DOCTYPE VALUES (1, 'Карта скрининга')"));
    c.Exec(QStringLiteral("INSERT INTO MEDPREPGROUP VALUES (1, 'Гипотензивные', 'C02', NULL)"));
    c.Exec(QStringLiteral("INSERT INTO MEDPREPARAT VALUES (1, 'C02AC01', 'Клонидин', 'Clonidine', "
                          "0.15, 50, 0.45, 1)"));
}

} // namespace exportsite
