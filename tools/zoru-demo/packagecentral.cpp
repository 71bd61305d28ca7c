// Reading what a demo package needs of the central database.

#include "packagecentral.h"

#include "core/errors.h"
#include "engine/database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace demo::detail {

namespace {

class Reader
{
public:
    explicit Reader(TDatabase &db) : m_db(db) {}

    std::vector<QVariantList> rows(const QString &sql, const QVariantList &params = {})
    {
        QSqlQuery q(m_db.Sql());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw EDBEngineError(engineMessage(q.lastError()), sql);
        for (qsizetype i = 0; i < params.size(); ++i)
            q.bindValue(int(i), params[i]);
        if (!q.exec())
            throw EDBEngineError(engineMessage(q.lastError()), sql);
        std::vector<QVariantList> out;
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << (q.isNull(i) ? QVariant() : q.value(i));
            out.push_back(std::move(row));
        }
        return out;
    }
    QVariantList row(const QString &sql, const QVariantList &params)
    {
        auto all = rows(sql, params);
        return all.empty() ? QVariantList() : all.front();
    }
    int max(const QString &table, const QString &column)
    {
        const auto r = rows(QStringLiteral("SELECT MAX(%1) FROM %2").arg(column, table));
        return r.empty() ? 0 : r.front().value(0).toInt();
    }

private:
    TDatabase &m_db;
};

} // namespace

Central readCentral(TDatabase &db, quint64 seed)
{
    Reader r(db);
    Central c;
    const auto wsts =
        r.rows(QStringLiteral("SELECT WSTGID, WSTNAME, HSPGID, BRGGID FROM "
                              "WORKSTATION WHERE HSPGID IS NOT NULL ORDER BY WSTGID"));
    if (wsts.empty())
        throw Exception(QStringLiteral("В центральной базе нет рабочей станции при ЛПУ"));
    const QVariantList &w = wsts[size_t(seed % wsts.size())];
    c.wstGID = w[0].toInt();
    c.wstName = w[1].toString();
    c.hspGID = w[2].toInt();
    c.brgGID = w[3].isNull() ? QVariant() : QVariant(w[3].toInt());
    c.operators = r.rows(QStringLiteral("SELECT USERGID, USERNAME, USERHASH, USERLEVEL FROM "
                                        "OPERATOR WHERE WSTGID = ? ORDER BY USERGID"),
                         {c.wstGID});
    if (c.operators.empty())
        throw Exception(
            QStringLiteral("У рабочей станции %1 нет операторов в центральной базе").arg(c.wstGID));
    c.hospital = r.row(QStringLiteral("SELECT * FROM HOSPITAL WHERE HSPGID = ?"), {c.hspGID});
    if (c.hospital.size() < 32)
        throw Exception(QStringLiteral("ЛПУ рабочей станции %1 не найдено").arg(c.wstGID));
    const QVariant htp = c.hospital[30], reg = c.hospital[31];
    if (!htp.isNull())
        c.hospType = r.row(QStringLiteral("SELECT * FROM HOSPTYPE WHERE HTPGID = ?"), {htp});
    if (!reg.isNull())
        c.region = r.row(QStringLiteral("SELECT * FROM REGION WHERE REGGID = ?"), {reg});
    if (!c.brgGID.isNull())
        c.brigade = r.row(QStringLiteral("SELECT BRGGID, BRGNAME, CITYGID FROM BRIGADE WHERE "
                                         "BRGGID = ?"),
                          {c.brgGID});

    // Cities of the hospital's region first: a workstation records the settlements around it.
    const int reggid = reg.toInt();
    for (const QVariantList &row :
         r.rows(QStringLiteral("SELECT CITYGID, CITYNAME, CITYSOATO, CITYOKATO, REGGID FROM CITY "
                               "ORDER BY CITYGID"))) {
        const QString soato = row[2].toString();
        c.soatos.insert(soato);
        if (soato.size() > 10 || row[1].toString().size() > 50)
            continue;
        KnownCity city{row[0].toInt(), row[1].toString(), soato, row[3].toString(), row[4], {}};
        if (row[4].toInt() == reggid)
            c.cities.insert(c.cities.begin(), std::move(city));
        else
            c.cities.push_back(std::move(city));
    }
    if (c.cities.size() > 200)
        c.cities.resize(200);
    for (KnownCity &city : c.cities)
        for (const QVariantList &row :
             r.rows(QStringLiteral("SELECT STRNAME FROM STREET WHERE CITYGID = ? ORDER BY STRGID"),
                    {city.gid}))
            city.streets << row[0].toString();
    for (const QVariantList &row :
         r.rows(QStringLiteral("SELECT POSNAME FROM POST ORDER BY POSGID")))
        if (c.posts.size() < 5)
            c.posts << row[0].toString();
    for (const QVariantList &row :
         r.rows(QStringLiteral("SELECT AREACODE FROM REGISTRATIONAREA WHERE HSPGID = ? ORDER BY "
                               "AREAGID"),
                {c.hspGID}))
        if (c.areaCodes.size() < 5)
            c.areaCodes << row[0].toString();
    for (const QVariantList &row :
         r.rows(QStringLiteral("SELECT DTPGID FROM DOCTYPE ORDER BY DTPGID")))
        c.docTypes.push_back(row[0].toInt());
    for (const QVariantList &row :
         r.rows(QStringLiteral("SELECT DIAGGID FROM DIAGNOSIS ORDER BY DIAGGID")))
        if (c.diagnoses.size() < 300)
            c.diagnoses.push_back(row[0].toInt());
    for (const QVariantList &row :
         r.rows(QStringLiteral("SELECT MPRGID FROM MEDPREPARAT ORDER BY MPRGID")))
        if (c.medicines.size() < 60)
            c.medicines.push_back(row[0].toInt());
    if (c.docTypes.empty() || c.diagnoses.empty())
        throw Exception(QStringLiteral("В центральной базе нет типов документов или диагнозов"));
    c.maxWst = r.max(QStringLiteral("WORKSTATION"), QStringLiteral("WSTGID"));
    c.maxHsp = r.max(QStringLiteral("HOSPITAL"), QStringLiteral("HSPGID"));
    c.maxHtp = r.max(QStringLiteral("HOSPTYPE"), QStringLiteral("HTPGID"));
    c.maxReg = r.max(QStringLiteral("REGION"), QStringLiteral("REGGID"));
    c.maxBrg = r.max(QStringLiteral("BRIGADE"), QStringLiteral("BRGGID"));
    c.maxIdmu = r.max(QStringLiteral("HOSPITAL"), QStringLiteral("IDMU"));
    c.maxIdtmu = r.max(QStringLiteral("HOSPTYPE"), QStringLiteral("IDTMU"));
    return c;
}

} // namespace demo::detail
