// The ЕСВС rows: what the centre holds, give or take what changed since.
#include "demobuilder.h"

#include <QVariant>
#include <algorithm>

namespace demo::detail {

void Builder::declareEsvs()
{
    esvs(QStringLiteral("ADRES"), {QStringLiteral("IDADRES"), QStringLiteral("ADRES"),
                                   QStringLiteral("K_ADMN"), QStringLiteral("RAZDEL")});
    esvs(QStringLiteral("TMU"),
         {QStringLiteral("IDTMU"), QStringLiteral("TMU"), QStringLiteral("CODTMU"),
          QStringLiteral("BGDATE"), QStringLiteral("BGREASON"), QStringLiteral("CLDATE"),
          QStringLiteral("CLREASON"), QStringLiteral("CRDATE")});
    esvs(QStringLiteral("MU"),
         {QStringLiteral("IDMU"),     QStringLiteral("MU"),       QStringLiteral("MUFL"),
          QStringLiteral("CODMU"),    QStringLiteral("IDTMU"),    QStringLiteral("OFFICE"),
          QStringLiteral("SURNAMER"), QStringLiteral("NAME_R"),   QStringLiteral("SECNAMER"),
          QStringLiteral("RSECNAME"), QStringLiteral("IDPOST"),   QStringLiteral("PHONE_R"),
          QStringLiteral("EMAIL"),    QStringLiteral("EMSIZE"),   QStringLiteral("IDADRES"),
          QStringLiteral("OMS"),      QStringLiteral("BGDATE"),   QStringLiteral("BGREASON"),
          QStringLiteral("CLDATE"),   QStringLiteral("CLREASON"), QStringLiteral("CRDATE")});
}

void Builder::makeEsvs()
{
    // ЕСВС holds what the centre holds, give or take what has changed since the last
    // synchronisation: a renamed district, a region, a hospital type and a few hospitals the
    // centre has not seen yet, a few hospitals renamed or with a new telephone, a type and a few
    // hospitals that ЕСВС has dropped.
    TableRows &adres = esvs(QStringLiteral("ADRES"), {});
    TableRows &tmu = esvs(QStringLiteral("TMU"), {});
    TableRows &mu = esvs(QStringLiteral("MU"), {});

    // Regions: one row per code at the smallest RAZDEL; a couple of codes also stand lower down.
    const TableRows &regions = *m_data.Central(QStringLiteral("REGION"));
    int id = 1;
    for (const QVariantList &r : regions.rows) {
        QString name = r[1].toString();
        if (r[2].toString() == QStringLiteral("52201000000"))
            name = QStringLiteral("Азовский немецкий национальный район");
        adres.rows.push_back({id++, name, r[2], 1});
        if (r[0].toInt() % 5 == 2)
            adres.rows.push_back(
                {id++, QString(name + QStringLiteral(" (муниципальное образование)")), r[2], 2});
    }
    for (const auto &[name, code] : m_extraAdres)
        adres.rows.push_back({id++, name, code, 1});

    const TableRows &hosptype = *m_data.Central(QStringLiteral("HOSPTYPE"));
    for (const QVariantList &r : hosptype.rows) {
        if (r[1].toInt() == 199)
            continue;
        tmu.rows.push_back({r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]});
    }
    tmu.rows.push_back({EsvsOnlyType, QStringLiteral("Санаторий"), QStringLiteral("САН"), day(400),
                        QStringLiteral("Приказ Минздрава № 77 от 10.02.1997"), QVariant(),
                        QVariant(), day(400)});

    const TableRows &hosp = *m_data.Central(QStringLiteral("HOSPITAL"));
    auto flag = [](const QVariant &v) { return QVariant(v.toInt() != 0); };
    for (const QVariantList &h : hosp.rows) {
        const int gid = h[0].toInt();
        if (gid % 250 == 10)
            continue; // known centrally only
        QVariant name = h[2];
        QVariant phone = h[12];
        if (gid % 97 == 13)
            name = QString(h[2].toString().left(90) + QStringLiteral(" (переименована)"));
        if (gid % 61 == 7)
            phone = QStringLiteral("(3812) 99-00-%1").arg(digits(gid % 100, 2));
        mu.rows.push_back({h[1],  name,        h[3],        h[4],  h[5],  flag(h[6]), h[7],
                           h[8],  h[9],        flag(h[10]), h[11], phone, h[16],      h[17].toInt(),
                           h[18], flag(h[24]), h[25],       h[26], h[27], h[28],      h[29]});
    }
    // Hospitals opened since the last synchronisation, at the addresses of existing ones.
    const int fresh = std::max(2, int(hosp.rows.size()) / 200);
    const int lastIdmu = hosp.rows.empty() ? 100000 : hosp.rows.back()[1].toInt();
    for (int i = 0; i < fresh && !hosp.rows.empty(); ++i) {
        const QVariantList &h = hosp.rows[(i * 37) % hosp.rows.size()];
        const Person head = randomPerson(m_rnd);
        const bool sanatorium = i == 0;
        const QString muName = sanatorium ? QStringLiteral("Санаторий \"Рассвет\"")
                                          : QStringLiteral("Офис врача общей практики № %1").arg(i);
        mu.rows.push_back({lastIdmu + 3 * (i + 1),
                           muName,
                           sanatorium
                               ? QStringLiteral("Бюджетное учреждение «Санаторий \"Рассвет\"»")
                               : QStringLiteral("Офис врача общей практики № %1 ").arg(i) +
                                     h[3].toString().left(150),
                           QStringLiteral("N%1").arg(i + 1, 4, 10, QLatin1Char('0')),
                           sanatorium ? EsvsOnlyType : types[typeIndex("VA")].idtmu,
                           false,
                           head.surname,
                           head.name,
                           head.patronymic,
                           true,
                           1,
                           h[12],
                           h[16],
                           2048,
                           h[18],
                           true,
                           day(4000 + i),
                           QStringLiteral("Приказ № %1").arg(500 + i),
                           QVariant(),
                           QVariant(),
                           day(4000 + i)});
    }
    // K_ADMN is a fixed-length column: ЕСВС delivers it padded with blanks, on every backend.
    for (QVariantList &row : adres.rows)
        if (!row[2].isNull())
            row[2] = row[2].toString().leftJustified(13, QLatin1Char(' '));
}

} // namespace demo::detail
