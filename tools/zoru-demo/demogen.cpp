#include "demogen.h"

#include "core/errors.h"
#include "demodata.h"
#include "engine/database.h"
#include "engine/statement.h"
#include "random.h"

#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <map>

namespace demo {

namespace {

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

QString digits(qint64 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

// Cuts a text to a column's length at a word boundary where one is near.
QString fit(const QString &text, int length)
{
    if (text.size() <= length)
        return text;
    QString cut = text.left(length);
    const qsizetype blank = cut.lastIndexOf(QLatin1Char(' '));
    if (blank > length * 2 / 3)
        cut.truncate(blank);
    while (cut.endsWith(QLatin1Char(',')) || cut.endsWith(QLatin1Char(' ')))
        cut.chop(1);
    return cut;
}

const QDate epoch(1996, 1, 1);

QDateTime day(int offset)
{
    return QDateTime(epoch.addDays(offset), QTime(0, 0));
}

struct Person
{
    QString surname, name, patronymic;
    bool female = false;
};

Person randomPerson(Random &rnd)
{
    Person p;
    p.female = rnd.percent(60); // most doctors and nurses in the field are women
    p.surname = u(rnd.pick(demodata::MaleSurnames()));
    QString patr = u(rnd.pick(demodata::Patronymics()));
    if (p.female) {
        p.surname += QChar(u'а');
        p.name = u(rnd.pick(demodata::FemaleNames()));
        if (patr.endsWith(QStringLiteral("ич")))
            patr = patr.left(patr.size() - 2) + QStringLiteral("на");
    } else {
        p.name = u(rnd.pick(demodata::MaleNames()));
    }
    p.patronymic = patr;
    return p;
}

// Hospital types: the ЕСВС identifier, name, code and the Latin prefix of e-mail addresses.
struct TypeInfo
{
    const char *key;
    int idtmu;
    const char *name;
    const char *code;
    const char *mail;
};
// clang-format off
constexpr TypeInfo types[] = {
    {"CRB", 101, "Центральная районная больница", "ЦРБ", "crb"},
    {"GB", 102, "Городская больница", "ГБ", "gb"},
    {"GP", 103, "Городская поликлиника", "ГП", "gp"},
    {"FAP", 104, "Фельдшерско-акушерский пункт", "ФАП", "fap"},
    {"UB", 105, "Участковая больница", "УБ", "ub"},
    {"VA", 106, "Врачебная амбулатория", "ВА", "va"},
    {"OB", 107, "Областная (краевая, республиканская) больница", "ОБ", "okb"},
    {"DGB", 108, "Детская городская больница", "ДГБ", "dgb"},
    {"RD", 109, "Родильный дом", "РД", "rd"},
    {"DISP", 110, "Диспансер", "ДИСП", "disp"},
    {"SMP", 111, "Станция скорой медицинской помощи", "ССМП", "ssmp"},
    {"STOM", 112, "Стоматологическая поликлиника", "СП", "stom"},
    {"CMP", 113, "Центр медицинской профилактики", "ЦМП", "cmp"},
    {"GVV", 114, "Госпиталь для ветеранов войн", "ГВВ", "gvv"},
    {"MP", 199, "Медицинский пункт", "МП", "mp"}, // kept centrally, gone from ЕСВС
};
// clang-format on
constexpr int EsvsOnlyType = 115; // "Санаторий", known only to ЕСВС

int typeIndex(const char *key)
{
    for (int i = 0; i < int(std::size(types)); ++i)
        if (qstrcmp(types[i].key, key) == 0)
            return i;
    return 0;
}

// Legal forms of the hospitals, in full and as they stand in front of a hospital's short name.
const char *const legalForms[][2] = {
    {"Муниципальное учреждение здравоохранения", "МУЗ"},
    {"Муниципальное бюджетное учреждение здравоохранения", "МБУЗ"},
    {"Бюджетное учреждение здравоохранения", "БУЗ"},
    {"Государственное бюджетное учреждение здравоохранения", "ГБУЗ"},
};

const char *const brigadeKinds[] = {
    "Выездная бригада",        "Мобильная бригада",         "Передвижной ФАП",
    "Бригада диспансеризации", "Флюорографическая бригада",
};

struct City
{
    int gid = 0;
    QString name;
    QString okato;
    QStringList streets;
};

// A piece of territory with its own REGION row: a subject, its capital or one of its districts.
struct Area
{
    enum Kind
    {
        Subject,
        Capital,
        District
    } kind = District;
    int subject = 0;
    int district = 0; // index among the subject's districts
    int reggid = 0;
    QString regName;
    QString okato; // 11 digits
    QString stem;  // district adjective stem
    QString centre;
    City centreCity;
    std::vector<City> villages;
    int nextVillage = 0;
    int villageOffset = 0;
    int made = 0;  // hospitals made here so far
    QString crbMu; // the district's central hospital, for the names of its branches
    QString legalForm;
    QString legalAbbrev;
    std::vector<int> hospitals; // HSPGIDs
};

struct Hospital
{
    int gid = 0;
    QString mu;
    QString codmu;
    int area = 0;
    int type = 0;
};

QString subjectAdjective(const demodata::Subject &s, bool feminine)
{
    const QString name = u(s.name);
    if (s.federalCity)
        return feminine ? QStringLiteral("Городская") : QStringLiteral("Городской");
    if (name.startsWith(QStringLiteral("Республика")))
        return feminine ? QStringLiteral("Республиканская") : QStringLiteral("Республиканский");
    if (name.endsWith(QStringLiteral("край")))
        return feminine ? QStringLiteral("Краевая") : QStringLiteral("Краевой");
    return feminine ? QStringLiteral("Областная") : QStringLiteral("Областной");
}

// A ten-digit SOATO code of a settlement (the workstations keep ten characters) derived from its
// eleven-digit OKATO code: subject, district, council, settlement.
QString soatoOf(const QString &okato)
{
    return okato.left(8) + okato.mid(9, 2);
}

class Builder
{
public:
    Builder(double scale, quint64 seed) : m_scale(scale), m_rnd(seed, 0x5A0Eu) {}
    DemoData Build();

private:
    void makeTypes();
    void makeAreas();
    void addCity(City &city, const QString &name, const QString &okato, const QVariant &reggid,
                 int streets);
    void makeHospitals();
    void makeHospital(Area &area);
    void makeBrigades();
    void makeWorkstations();
    void makeDiagnoses();
    void makeDocTypes();
    void makeMedicines();
    void declareEsvs();
    void makeEsvs();

    TableRows &central(const QString &name, const QStringList &columns);
    TableRows &esvs(const QString &name, const QStringList &columns);

    double m_scale;
    Random m_rnd;
    DemoData m_data;
    std::vector<Area> m_areas;
    std::vector<Hospital> m_hospitals;
    std::vector<int> m_hospitalTypeGid; // HTPGID per entry of types
    int m_nextCityGid = 1;
    int m_nextStreetGid = 1;
    std::vector<std::pair<QString, QString>> m_extraAdres; // ЕСВС-only region rows
    std::map<int, std::vector<int>> m_brigadeHospitals;
};

TableRows &Builder::central(const QString &name, const QStringList &columns)
{
    for (TableRows &t : m_data.central)
        if (t.name == name)
            return t;
    m_data.central.push_back({name, columns, {}});
    return m_data.central.back();
}

TableRows &Builder::esvs(const QString &name, const QStringList &columns)
{
    for (TableRows &t : m_data.esvs)
        if (t.name == name)
            return t;
    m_data.esvs.push_back({name, columns, {}});
    return m_data.esvs.back();
}

DemoData Builder::Build()
{
    // Fix the order in which the tables are written: references point backwards.
    central(QStringLiteral("REGION"),
            {QStringLiteral("REGGID"), QStringLiteral("REGNAME"), QStringLiteral("REGOKATO")});
    declareEsvs();
    makeTypes();
    makeAreas();
    makeHospitals();
    makeBrigades();
    makeWorkstations();
    makeDiagnoses();
    makeDocTypes();
    makeMedicines();
    makeEsvs();
    return std::move(m_data);
}

void Builder::makeTypes()
{
    TableRows &t = central(QStringLiteral("HOSPTYPE"),
                           QStringList{QStringLiteral("HTPGID"), QStringLiteral("IDTMU"),
                                       QStringLiteral("TMU"), QStringLiteral("CODTMU"),
                                       QStringLiteral("BGDATE"), QStringLiteral("BGREASON"),
                                       QStringLiteral("CLDATE"), QStringLiteral("CLREASON"),
                                       QStringLiteral("CRDATE")});
    int gid = 1;
    for (const TypeInfo &type : types) {
        m_hospitalTypeGid.push_back(gid);
        const bool closed = type.idtmu == 199;
        t.rows.push_back(
            {gid, type.idtmu, u(type.name), u(type.code), day(0),
             QStringLiteral("Приказ Минздрава № 12 от 05.01.1996"),
             closed ? QVariant(day(3300)) : QVariant(),
             closed ? QVariant(QStringLiteral("Исключён из номенклатуры")) : QVariant(), day(0)});
        ++gid;
    }
}

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

void Builder::makeHospitals()
{
    const int count = ScaledCount(BaseHospitals, m_scale, 12);
    // The capitals of the subjects and the home districts come round more often: they hold the
    // most hospitals in life, too.
    std::vector<int> order;
    for (int i = 0; i < int(m_areas.size()); ++i) {
        order.push_back(i);
        if (m_areas[i].kind == Area::Capital || m_areas[i].subject == 0)
            order.push_back(i);
    }
    for (int made = 0; made < count;)
        for (int i : order) {
            if (made >= count)
                break;
            makeHospital(m_areas[i]);
            ++made;
        }
}

void Builder::makeHospital(Area &area)
{
    TableRows &t =
        central(QStringLiteral("HOSPITAL"),
                {QStringLiteral("HSPGID"),   QStringLiteral("IDMU"),     QStringLiteral("MU"),
                 QStringLiteral("MUFL"),     QStringLiteral("CODMU"),    QStringLiteral("IDTMU"),
                 QStringLiteral("OFFICE"),   QStringLiteral("SURNAMER"), QStringLiteral("NAME_R"),
                 QStringLiteral("SECNAMER"), QStringLiteral("RSECNAME"), QStringLiteral("IDPOST"),
                 QStringLiteral("PHONE_R"),  QStringLiteral("CNTPHONE"), QStringLiteral("FAX"),
                 QStringLiteral("FAXREG"),   QStringLiteral("EMAIL"),    QStringLiteral("EMSIZE"),
                 QStringLiteral("IDADRES"),  QStringLiteral("MAILCODE"), QStringLiteral("MAILADR"),
                 QStringLiteral("HOUSE"),    QStringLiteral("HOUSELIT"), QStringLiteral("CORPUS"),
                 QStringLiteral("OMS"),      QStringLiteral("BGDATE"),   QStringLiteral("BGREASON"),
                 QStringLiteral("CLDATE"),   QStringLiteral("CLREASON"), QStringLiteral("CRDATE"),
                 QStringLiteral("HTPGID"),   QStringLiteral("REGGID")});
    const demodata::Subject &subj = demodata::Subjects()[area.subject];
    const int k = area.made++;
    const int gid = int(m_hospitals.size()) + 1;
    const QString form = area.legalForm;
    QString mu, mufl, type;
    City *city = &area.centreCity;
    QString okato = area.centreCity.okato;

    auto village = [&]() -> City * {
        const auto names = demodata::Villages();
        const int j = area.nextVillage++;
        if (j < int(area.villages.size()))
            return &area.villages[j];
        area.villages.emplace_back();
        City &c = area.villages.back();
        QString name = u(names[(area.villageOffset + j * 7) % names.size()]);
        if (j >= int(names.size()))
            name += QStringLiteral(" %1-е").arg(j / int(names.size()) + 1);
        const QString code =
            area.okato.left(5) + QStringLiteral("8") + digits(2 + j / 4, 2) + digits(1 + j % 4, 3);
        // Now and then a settlement whose district is not recorded: the wizard lists it under
        // the region "ПРОЧИЕ...".
        const QVariant reggid = m_nextCityGid % 50 == 20 ? QVariant() : QVariant(area.reggid);
        addCity(c, name, code, reggid, m_rnd.between(2, 5));
        return &c;
    };

    if (area.kind == Area::District) {
        const int i = k - 1;
        if (k == 0) {
            type = QStringLiteral("CRB");
            mu = area.stem + QStringLiteral("ая ЦРБ");
            mufl = form + QStringLiteral(" «") + area.stem +
                   QStringLiteral("ая центральная районная больница»");
            area.crbMu = mu;
        } else if (i % 8 == 2 || i % 8 == 4) {
            city = village();
            okato = city->okato;
            const bool ub = i % 8 == 2;
            type = ub ? QStringLiteral("UB") : QStringLiteral("VA");
            const QString kind = ub ? QStringLiteral("Участковая больница")
                                    : QStringLiteral("Врачебная амбулатория");
            mu = kind + QLatin1Char(' ') + city->name;
            mufl = kind + QLatin1Char(' ') + city->name + QStringLiteral(", подразделение ") +
                   area.legalAbbrev + QStringLiteral(" «") + area.crbMu + QStringLiteral("»");
        } else if (i == 7) {
            type = QStringLiteral("SMP");
            mu = QStringLiteral("Отделение скорой медицинской помощи ") + area.centre;
            mufl = QStringLiteral("Отделение скорой медицинской помощи ") + area.legalAbbrev +
                   QStringLiteral(" «") + area.crbMu + QStringLiteral("»");
        } else {
            city = village();
            okato = city->okato;
            type = QStringLiteral("FAP");
            mu = QStringLiteral("ФАП ") + city->name;
            mufl = QStringLiteral("Фельдшерско-акушерский пункт ") + city->name + QLatin1Char(' ') +
                   area.legalAbbrev + QStringLiteral(" «") + area.crbMu + QStringLiteral("»");
        }
    } else if (area.kind == Area::Capital || subj.federalCity) {
        // City hospitals; in a federal city the subject's own row is the city.
        const int n = k / 6 + 1;
        const QString num = QStringLiteral(" № %1").arg(n);
        switch (k % 6) {
        case 0:
            type = QStringLiteral("GB");
            mu = QStringLiteral("ГКБ") + num;
            mufl = form + QStringLiteral(" «Городская клиническая больница") + num +
                   QStringLiteral("»");
            break;
        case 1:
            type = QStringLiteral("GP");
            mu = QStringLiteral("Городская поликлиника") + num;
            // Every other polyclinic is a branch: its short name carries a slash.
            if (n % 2 == 0)
                mu += QStringLiteral("/филиал ГКБ № %1").arg(n / 2);
            mufl = form + QStringLiteral(" «Городская поликлиника") + num + QStringLiteral("»");
            break;
        case 2:
            type = QStringLiteral("DGB");
            mu = QStringLiteral("ДГБ") + num;
            mufl = form + QStringLiteral(" «Детская городская клиническая больница") + num +
                   QStringLiteral("»");
            break;
        case 3:
            type = QStringLiteral("RD");
            mu = QStringLiteral("Родильный дом") + num + QStringLiteral("/женская консультация");
            mufl = form + QStringLiteral(" «Родильный дом") + num + QStringLiteral("»");
            break;
        case 4:
            type = QStringLiteral("STOM");
            mu = QStringLiteral("Стоматологическая поликлиника") + num;
            mufl = form + QStringLiteral(" «Стоматологическая поликлиника") + num +
                   QStringLiteral("»");
            break;
        default:
            type = QStringLiteral("SMP");
            mu = QStringLiteral("ССМП, подстанция") + num;
            mufl = form + QStringLiteral(" «Станция скорой медицинской помощи», подстанция") + num;
            break;
        }
        if (!subj.federalCity)
            mu += QStringLiteral(" г. ") + u(subj.capital);
    } else {
        // The subject's own institutions, in its capital.
        const QString fem = subjectAdjective(subj, true);
        const QString masc = subjectAdjective(subj, false);
        const int n = k / 8 + 1;
        const QString num = n > 1 ? QStringLiteral(" № %1").arg(n) : QString();
        switch (k % 8) {
        case 0:
            type = QStringLiteral("OB");
            mu =
                fem.left(1) + QStringLiteral("КБ") + num + QStringLiteral(" г. ") + u(subj.capital);
            mufl = u(subj.mufl) + QStringLiteral(" «") + fem +
                   QStringLiteral(" клиническая больница") + num + QStringLiteral("»");
            break;
        case 1:
            type = QStringLiteral("DISP");
            mu = masc + QStringLiteral(" онкологический диспансер") + num;
            mufl = u(subj.mufl) + QStringLiteral(" «Клинический онкологический диспансер»") + num;
            break;
        case 2:
            type = QStringLiteral("DISP");
            mu = masc + QStringLiteral(" кожно-венерологический диспансер") + num;
            mufl = u(subj.mufl) +
                   QStringLiteral(" «Клинический кожно-венерологический диспансер»") + num;
            break;
        case 3:
            type = QStringLiteral("CMP");
            mu = QStringLiteral("Центр медицинской профилактики \"Здоровье\"") + num;
            mufl = u(subj.mufl) + QStringLiteral(" \"") + fem +
                   QStringLiteral(" центр медицинской профилактики \"Здоровье\"\"") + num;
            break;
        case 4:
            type = QStringLiteral("DISP");
            mu = masc + QStringLiteral(" противотуберкулёзный диспансер") + num;
            mufl = u(subj.mufl) + QStringLiteral(" «Клинический противотуберкулёзный диспансер»") +
                   num;
            break;
        case 5:
            type = QStringLiteral("GVV");
            mu = QStringLiteral("Госпиталь для ветеранов войн") + num + QStringLiteral(" г. ") +
                 u(subj.capital);
            mufl = u(subj.mufl) + QStringLiteral(" «Госпиталь для ветеранов войн»") + num;
            break;
        case 6:
            type = QStringLiteral("RD");
            mu = masc + QStringLiteral(" перинатальный центр") + num;
            mufl = u(subj.mufl) + QStringLiteral(" «") + masc +
                   QStringLiteral(" перинатальный центр»") + num;
            break;
        default:
            type = QStringLiteral("DISP");
            mu = masc + QStringLiteral(" кардиологический диспансер") + num;
            mufl = u(subj.mufl) + QStringLiteral(" «Клинический кардиологический диспансер»") + num;
            break;
        }
    }

    const int ti = typeIndex(type.toLatin1().constData());
    const TypeInfo &info = types[ti];
    // A handful of hospitals have no address in ЕСВС and so no region: the wizard lists them
    // under "ПРОЧИЕ...".
    const bool noRegion = gid % 150 == 75;
    // A few still carry the type that ЕСВС has dropped.
    const int typeIdx = (gid % 400 == 200) ? typeIndex("MP") : ti;
    const TypeInfo &shownType = types[typeIdx];

    const Person head = randomPerson(m_rnd);
    const QString phoneCode = area.kind == Area::District
                                  ? u(subj.phone).left(3) + digits(10 + area.district % 89, 2)
                                  : u(subj.phone);
    auto phone = [&] {
        return QStringLiteral("(%1) %2-%3-%4")
            .arg(phoneCode)
            .arg(m_rnd.between(2, 6))
            .arg(digits(m_rnd.below(100), 2), digits(m_rnd.below(100), 2));
    };
    const QString street =
        city->streets.isEmpty() ? QString() : city->streets[m_rnd.below(int(city->streets.size()))];
    const int house = m_rnd.between(1, 120);
    const QString lit =
        m_rnd.percent(10) ? QString(QChar(m_rnd.percent(50) ? u'а' : u'б')) : QString();
    const QVariant corpus = m_rnd.percent(8) ? QVariant(m_rnd.between(1, 3)) : QVariant();
    const QString postal = u(subj.postal) + digits((area.reggid * 7 + area.district) % 1000, 3);
    QString addr = postal + QStringLiteral(", ") + u(subj.abbrev);
    if (area.kind == Area::District)
        addr += QStringLiteral(", ") + area.stem + QStringLiteral("ий р-н");
    addr += QStringLiteral(", ") + city->name;
    if (!street.isEmpty())
        addr += QStringLiteral(", ") + street;
    addr += QStringLiteral(", д. %1").arg(house) + lit;
    if (corpus.isValid())
        addr += QStringLiteral(", корп. %1").arg(corpus.toInt());

    const QString codmu = u(subj.okato) + digits(gid % 100000, 5);
    const int begin = m_rnd.below(3650);
    const bool closed = m_rnd.percent(2);
    const int idmu = 100000 + gid * 3;
    const int idadres = 500000 + gid;

    if (area.kind == Area::Subject && !subj.federalCity)
        okato = area.okato; // the subject's own institutions are addressed to the subject
    t.rows.push_back(
        {gid,
         idmu,
         fit(mu, 100),
         fit(mufl, 250),
         codmu,
         shownType.idtmu,
         (type == QStringLiteral("CRB") || area.kind == Area::Subject) ? 1 : 0,
         head.surname,
         head.name,
         head.patronymic,
         1,
         m_rnd.between(1, 5),
         phone(),
         phone(),
         phone(),
         m_rnd.percent(70) ? 1 : 0,
         QStringLiteral("%1%2@zdrav%3.ru").arg(u(info.mail), codmu, u(subj.okato)),
         QString::number(1024 * (1 + m_rnd.below(5))),
         noRegion ? QVariant() : QVariant(idadres),
         postal,
         fit(addr, 250),
         house,
         lit.isEmpty() ? QVariant() : QVariant(lit),
         corpus,
         m_rnd.percent(90) ? 1 : 0,
         day(begin),
         QStringLiteral("Постановление главы администрации № %1").arg(m_rnd.between(1, 400)),
         closed ? QVariant(day(begin + 1000 + m_rnd.below(2000))) : QVariant(),
         closed ? QVariant(QStringLiteral("Реорганизация путём присоединения")) : QVariant(),
         day(begin + m_rnd.below(30)),
         m_hospitalTypeGid[typeIdx],
         noRegion ? QVariant() : QVariant(area.reggid)});
    m_hospitals.push_back({gid, fit(mu, 100), codmu, int(&area - m_areas.data()), typeIdx});
    area.hospitals.push_back(gid);

    if (!noRegion) {
        TableRows &adres = esvs(QStringLiteral("ADRES"), {});
        adres.rows.push_back({idadres, fit(addr, 255), okato, 3});
    }
}

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

void Builder::makeDiagnoses()
{
    TableRows &t =
        central(QStringLiteral("DIAGNOSIS"), {QStringLiteral("DIAGGID"), QStringLiteral("DIAGNAME"),
                                              QStringLiteral("DIAGESVSID")});
    const auto bases = demodata::Diagnoses();
    const auto quals = demodata::DiagnosisQualifiers();
    const int count = ScaledCount(BaseDiagnoses, m_scale, 20);
    const int perRound = int(bases.size()) * (int(quals.size()) + 1);
    for (int i = 0; i < count; ++i) {
        const int round = i / perRound;
        const int q = (i % perRound) / int(bases.size()); // 0: the heading itself
        const demodata::Diagnosis &d = bases[i % bases.size()];
        QString code = u(d.code);
        QString name = u(d.name);
        if (q > 0) {
            code += QLatin1Char('.') + QString::number(q - 1);
            name += QStringLiteral(", ") + u(quals[q - 1]);
        }
        if (round > 0 && q > 0) {
            code += QString::number(round);
        } else if (round > 0) {
            code += QStringLiteral(".8%1").arg(round);
            name += QStringLiteral(", другие формы");
        }
        t.rows.push_back({i + 1, fit(code + QLatin1Char(' ') + name, 50), 700000 + i + 1});
    }
}

void Builder::makeDocTypes()
{
    TableRows &t =
        central(QStringLiteral("DOCTYPE"), {QStringLiteral("DTPGID"), QStringLiteral("DTPNAME")});
    int gid = 1;
    for (const char *name : demodata::DocumentTypes())
        t.rows.push_back({gid++, u(name)});
}

void Builder::makeMedicines()
{
    TableRows &groups = central(QStringLiteral("MEDPREPGROUP"),
                                {QStringLiteral("MPGGID"), QStringLiteral("MPGNAME"),
                                 QStringLiteral("MPGCODE"), QStringLiteral("MPGPNTGID")});
    TableRows &meds =
        central(QStringLiteral("MEDPREPARAT"),
                {QStringLiteral("MPRGID"), QStringLiteral("MPRCODE"), QStringLiteral("MPRNAME1"),
                 QStringLiteral("MPRNAME2"), QStringLiteral("MPRDOSE"), QStringLiteral("MPRNUMBER"),
                 QStringLiteral("MPRDOSEDAY"), QStringLiteral("MPGGID")});
    std::map<QString, int> groupGid;
    int gid = 1;
    for (const demodata::MedicineGroup &g : demodata::MedicineGroups()) {
        groupGid[u(g.code)] = gid;
        groups.rows.push_back({gid, u(g.name), u(g.code),
                               g.parent ? QVariant(groupGid.at(u(g.parent))) : QVariant()});
        ++gid;
    }
    const auto list = demodata::Medicines();
    const double strengths[] = {1, 2, 0.5, 4};
    const int packs[] = {20, 30, 10, 50, 28, 60, 100};
    const int count = ScaledCount(BaseMedicines, m_scale, 10);
    std::map<QString, int> perGroup;
    for (int i = 0; i < count; ++i) {
        const demodata::Medicine &m = list[i % list.size()];
        const int variant = i / int(list.size());
        const double dose = m.dose * strengths[variant % std::size(strengths)];
        const int pack = packs[(variant / int(std::size(strengths)) + i) % std::size(packs)];
        const QString group = u(m.group);
        const QString code = group + QLatin1Char('-') + digits(++perGroup[group], 3);
        const QString name = QStringLiteral("%1, табл. %2 мг № %3")
                                 .arg(u(m.trade), QLocale::c().toString(dose, 'g', 4))
                                 .arg(pack);
        meds.rows.push_back({i + 1, fit(code, 10), fit(name, 100), u(m.inn), dose, pack, m.perDay,
                             groupGid.at(group)});
    }
}

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

} // namespace

const TableRows *DemoData::Central(const QString &name) const
{
    for (const TableRows &t : central)
        if (t.name == name)
            return &t;
    return nullptr;
}

const TableRows *DemoData::Esvs(const QString &name) const
{
    for (const TableRows &t : esvs)
        if (t.name == name)
            return &t;
    return nullptr;
}

int ScaledCount(int base, double scale, int minimum)
{
    return std::max(minimum, int(std::lround(base * scale)));
}

DemoData BuildDemoData(double scale, quint64 seed)
{
    return Builder(scale, seed).Build();
}

void WriteTables(TDatabase &db, const std::deque<TableRows> &tables)
{
    for (const TableRows &t : tables) {
        if (t.rows.empty())
            continue;
        QStringList marks;
        for (qsizetype i = 0; i < t.columns.size(); ++i)
            marks << QStringLiteral("?");
        const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(t.name, t.columns.join(QStringLiteral(", ")),
                                     marks.join(QStringLiteral(", ")));
        engine::TStatement q(db.Sql(), sql);
        for (const QVariantList &row : t.rows)
            q.exec(row);
    }
}

} // namespace demo
