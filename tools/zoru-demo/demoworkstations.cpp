// The brigades, workstations and operators of the demo rows.
#include "demobuilder.h"

#include <QSet>
#include <QVariant>
#include <algorithm>

namespace demo::detail {

namespace {

const char *const brigadeKinds[] = {
    "Выездная бригада",        "Мобильная бригада",         "Передвижной ФАП",
    "Бригада диспансеризации", "Флюорографическая бригада",
};

} // namespace

void Builder::makeBrigades()
{
    TableRows &brigades =
        central(QStringLiteral("BRIGADE"),
                {QStringLiteral("BRGGID"), QStringLiteral("BRGNAME"), QStringLiteral("CITYGID")});
    TableRows &links =
        central(QStringLiteral("BRIGHSP"), {QStringLiteral("HSPGID"), QStringLiteral("BRGGID")});
    const int count = ScaledCount(BaseBrigades, m_scale, 3);
    std::vector<int> serving; // areas with hospitals of their own below the subject level
    for (int i = 0; i < int(m_areas.size()); ++i)
        if (!m_areas[i].hospitals.empty())
            serving.push_back(i);
    std::map<int, int> perArea;
    for (int b = 1; b <= count; ++b) {
        Area &area = m_areas[serving[(b - 1) % serving.size()]];
        const int n = ++perArea[area.reggid];
        const QString kind = u(brigadeKinds[m_rnd.below(int(std::size(brigadeKinds)))]);
        QString owner = area.kind == Area::District ? area.crbMu : area.regName;
        if (owner.isEmpty())
            owner = area.regName;
        const QString name = QStringLiteral("%1 № %2 (%3)").arg(kind).arg(n).arg(owner);
        // A few brigades belong to no settlement: the wizard shows them under "ПРОЧИЕ...".
        const bool noCity = b % 25 == 5;
        brigades.rows.push_back({b, name, noCity ? QVariant() : QVariant(area.centreCity.gid)});
        // The second brigade serves no hospital yet: a workstation of it exports empty hospital
        // tables.
        std::vector<int> served;
        if (b != 2) {
            std::vector<int> pool = area.hospitals;
            const int want = std::min<int>(int(pool.size()), m_rnd.between(2, 6));
            for (int i = 0; i < want; ++i) {
                const int j = i + m_rnd.below(int(pool.size()) - i);
                std::swap(pool[i], pool[j]);
                served.push_back(pool[i]);
            }
            std::sort(served.begin(), served.end());
        }
        for (int h : served)
            links.rows.push_back({h, b});
        m_brigadeHospitals[b] = served;
    }
}

void Builder::makeWorkstations()
{
    TableRows &wst =
        central(QStringLiteral("WORKSTATION"),
                {QStringLiteral("WSTGID"), QStringLiteral("WSTNAME"), QStringLiteral("WSTRPLDATE"),
                 QStringLiteral("HSPGID"), QStringLiteral("BRGGID")});
    TableRows &ops =
        central(QStringLiteral("OPERATOR"),
                {QStringLiteral("WSTGID"), QStringLiteral("USERGID"), QStringLiteral("USERNAME"),
                 QStringLiteral("USERHASH"), QStringLiteral("USERLEVEL")});
    QSet<QString> names;
    int gid = 0;
    auto add = [&](QString base, const QVariant &hsp, const QVariant &brg) {
        ++gid;
        QString name;
        for (int k = 1;; ++k) {
            const QString suffix = QStringLiteral(", АРМ %1").arg(k);
            name = fit(base, 100 - int(suffix.size())) + suffix;
            if (!names.contains(name))
                break;
        }
        names.insert(name);
        const QVariant rpl =
            m_rnd.percent(60) ? QVariant(day(3650 + m_rnd.below(1500))) : QVariant();
        wst.rows.push_back({gid, name, rpl, hsp, brg});
        // Operators: the first one administers the workstation.
        QSet<QString> users;
        const int count = 1 + m_rnd.below(4);
        for (int user = 1; user <= count; ++user) {
            QString login;
            do {
                const Person p = randomPerson(m_rnd);
                login = fit(p.surname + QLatin1Char(' ') + p.name.left(1) + QLatin1Char('.') +
                                p.patronymic.left(1) + QLatin1Char('.'),
                            20);
            } while (users.contains(login));
            users.insert(login);
            ops.rows.push_back({gid, user, login, QStringLiteral("0"), user == 1 ? 1 : 0});
        }
        return gid;
    };

    // Hospital workstations: central district hospitals and city hospitals first, then others.
    const int hospitalWst = ScaledCount(BaseHospitalWorkstations, m_scale, 3);
    std::vector<const Hospital *> candidates;
    for (const Hospital &h : m_hospitals)
        if (qstrcmp(types[h.type].key, "FAP") != 0)
            candidates.push_back(&h);
    for (const Hospital &h : m_hospitals)
        if (qstrcmp(types[h.type].key, "FAP") == 0)
            candidates.push_back(&h);
    const int stride = std::max(1, int(candidates.size()) / std::max(1, hospitalWst));
    for (int i = 0; i < hospitalWst; ++i) {
        const Hospital &h =
            *candidates[(i * stride + i / int(candidates.size())) % candidates.size()];
        const int w = add(h.mu, h.gid, QVariant());
        if (m_data.hospitalWst == 0 && qstrcmp(types[h.type].key, "CRB") == 0) {
            m_data.hospitalWst = w;
            m_data.hospitalWstName = wst.rows.back()[1].toString();
        }
    }
    // Brigade workstations; every tenth also works for one of the brigade's hospitals.
    const TableRows &brigades = *m_data.Central(QStringLiteral("BRIGADE"));
    for (const QVariantList &b : brigades.rows) {
        const int brg = b[0].toInt();
        const std::vector<int> &served = m_brigadeHospitals[brg];
        const bool both = brg % 10 == 3 && !served.empty();
        const int w = add(b[1].toString(), both ? QVariant(served.front()) : QVariant(), brg);
        if (both && m_data.bothWst == 0)
            m_data.bothWst = w;
        if (!both && served.size() >= 2 && m_data.brigadeWst == 0) {
            m_data.brigadeWst = w;
            m_data.brigadeWstName = wst.rows.back()[1].toString();
        }
    }
    if (m_data.hospitalWst == 0 && !wst.rows.empty()) {
        m_data.hospitalWst = wst.rows.front()[0].toInt();
        m_data.hospitalWstName = wst.rows.front()[1].toString();
    }
}

} // namespace demo::detail
