// The regions of the demo rows with their cities and streets.
#include "demobuilder.h"
#include "demodata.h"

#include <QVariant>
#include <algorithm>

namespace demo::detail {

namespace {

// Legal forms of the hospitals, in full and as they stand in front of a hospital's short name.
const char *const legalForms[][2] = {
    {"Муниципальное учреждение здравоохранения", "МУЗ"},
    {"Муниципальное бюджетное учреждение здравоохранения", "МБУЗ"},
    {"Бюджетное учреждение здравоохранения", "БУЗ"},
    {"Государственное бюджетное учреждение здравоохранения", "ГБУЗ"},
};

// A ten-digit SOATO code of a settlement (the workstations keep ten characters) derived from its
// eleven-digit OKATO code: subject, district, council, settlement.
QString soatoOf(const QString &okato)
{
    return okato.left(8) + okato.mid(9, 2);
}

} // namespace

void Builder::addCity(City &city, const QString &name, const QString &okato, const QVariant &reggid,
                      int streets)
{
    TableRows &cities =
        central(QStringLiteral("CITY"),
                {QStringLiteral("CITYGID"), QStringLiteral("CITYNAME"), QStringLiteral("CITYSOATO"),
                 QStringLiteral("CITYOKATO"), QStringLiteral("REGGID")});
    TableRows &streetRows =
        central(QStringLiteral("STREET"),
                {QStringLiteral("STRGID"), QStringLiteral("STRNAME"), QStringLiteral("CITYGID")});
    city.gid = m_nextCityGid++;
    city.name = name;
    city.okato = okato;
    cities.rows.push_back({city.gid, fit(name, 50), soatoOf(okato), okato, reggid});
    const auto all = demodata::Streets();
    const int start = m_rnd.below(int(all.size()));
    const int step = 1 + 2 * m_rnd.below(5); // odd, and the list length is even: all distinct
    for (int i = 0; i < streets && i < int(all.size()); ++i) {
        const QString street = u(all[(start + i * step) % all.size()]);
        if (city.streets.contains(street))
            continue;
        city.streets << street;
        streetRows.rows.push_back({m_nextStreetGid++, street, city.gid});
    }
}

void Builder::makeAreas()
{
    TableRows &regions = central(QStringLiteral("REGION"), {});
    const int hospitals = ScaledCount(BaseHospitals, m_scale, 12);
    const auto subjects = demodata::Subjects();
    const auto pool = demodata::DistrictPool();
    const int districtsPerSubject = 20;

    // Every area takes about 25 hospitals; a larger scale fills the areas more densely once the
    // list is used up.
    std::vector<Area> all;
    for (int s = 0; s < int(subjects.size()); ++s) {
        const demodata::Subject &subj = subjects[s];
        const QString rr = u(subj.okato);
        Area subject;
        subject.kind = Area::Subject;
        subject.subject = s;
        subject.regName = u(subj.name);
        subject.okato = rr + QStringLiteral("000000000");
        all.push_back(subject);
        if (subj.federalCity)
            continue;
        Area capital;
        capital.kind = Area::Capital;
        capital.subject = s;
        capital.regName = QStringLiteral("г. ") + u(subj.capital);
        capital.okato = rr + QStringLiteral("401000000");
        all.push_back(capital);
        if (s == 0) {
            int d = 0;
            for (const demodata::District &district : demodata::HomeDistricts()) {
                Area a;
                a.subject = s;
                a.district = d++;
                a.stem = u(district.stem);
                a.centre = u(district.centre);
                a.regName = a.stem + QStringLiteral("ий район");
                a.okato = rr + u(district.okato) + QStringLiteral("000000");
                all.push_back(a);
            }
        } else {
            const int offset = (s * 7) % int(pool.size());
            for (int d = 0; d < districtsPerSubject; ++d) {
                const demodata::District &district = pool[(offset + d) % pool.size()];
                Area a;
                a.subject = s;
                a.district = d;
                a.stem = u(district.stem);
                a.centre = u(district.centre);
                a.regName = a.stem + QStringLiteral("ий район");
                a.okato = rr + digits(201 + 3 * d, 3) + QStringLiteral("000000");
                all.push_back(a);
            }
        }
    }
    const int wanted = std::clamp((hospitals + 24) / 25, 3, int(all.size()));
    all.resize(wanted);
    // A subject's own institutions stand in its capital: never keep one without the other.
    if (all.back().kind == Area::Subject && !subjects[all.back().subject].federalCity)
        all.pop_back();
    m_areas = std::move(all);

    int reggid = 1;
    for (Area &a : m_areas) {
        a.reggid = reggid++;
        regions.rows.push_back({a.reggid, a.regName, a.okato});
        const int form = m_rnd.below(int(std::size(legalForms)));
        a.legalForm = u(legalForms[form][0]);
        a.legalAbbrev = u(legalForms[form][1]);
        const demodata::Subject &subj = subjects[a.subject];
        const QString rr = u(subj.okato);
        switch (a.kind) {
        case Area::Subject:
            if (subj.federalCity)
                addCity(a.centreCity, QStringLiteral("г. ") + u(subj.capital), a.okato, a.reggid,
                        40);
            break;
        case Area::Capital:
            addCity(a.centreCity, a.regName, a.okato, a.reggid, 40);
            break;
        case Area::District: {
            const QString kind = a.centre.section(QLatin1Char(' '), 0, 0);
            const QString code = kind == QStringLiteral("г.")     ? QStringLiteral("501000")
                                 : kind == QStringLiteral("р.п.") ? QStringLiteral("551000")
                                                                  : QStringLiteral("801001");
            addCity(a.centreCity, a.centre, a.okato.left(5) + code, a.reggid, m_rnd.between(8, 15));
            a.villageOffset = m_rnd.below(int(demodata::Villages().size()));
            break;
        }
        }
    }
    for (size_t i = 0; i + 1 < m_areas.size(); ++i)
        if (m_areas[i].kind == Area::Subject && m_areas[i + 1].kind == Area::Capital)
            m_areas[i].centreCity = m_areas[i + 1].centreCity;
    // One region that the synchronisation will bring in: ЕСВС knows it, the centre does not.
    m_extraAdres.push_back({QStringLiteral("Республика Алтай"), QStringLiteral("84000000000")});
}

} // namespace demo::detail
