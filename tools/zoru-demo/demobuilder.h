// Internal to the demo rows: the shared helpers, territory and hospital records, the builder.
#pragma once

#include "demogen.h"
#include "random.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <map>
#include <utility>
#include <vector>

namespace demo::detail {

QString u(const char *text);
QString digits(qint64 value, int width);
// Cuts a text to a column's length at a word boundary where one is near.
QString fit(const QString &text, int length);
QDateTime day(int offset);

struct Person
{
    QString surname, name, patronymic;
    bool female = false;
};

Person randomPerson(Random &rnd);

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
inline constexpr TypeInfo types[] = {
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
inline constexpr int EsvsOnlyType = 115; // "Санаторий", known only to ЕСВС

int typeIndex(const char *key);

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

} // namespace demo::detail
