#include "package.h"

#include "core/clock.h"
#include "core/errors.h"
#include "core/inifile.h"
#include "core/paths.h"
#include "core/sitefolder.h"
#include "core/strconst.h"
#include "demodata.h"
#include "engine/database.h"
#include "engine/paradox/paradoxtable.h"
#include "installation.h"
#include "package/archiver.h"
#include "package/packagenames.h"
#include "package/packagetables.h"
#include "package/volumenames.h"
#include "package/workfolder.h"
#include "packagecentral.h"
#include "packageschemas.h"
#include "random.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <span>

namespace demo {

namespace {

using namespace detail;

using paradox::Field;
using paradox::FieldType;
using paradox::Row;
using paradox::Schema;

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

// clang-format off
const char *const posts[] = {
    "Врач", "Медицинская сестра", "Учитель", "Инженер", "Водитель", "Тракторист",
    "Механизатор", "Доярка", "Продавец", "Бухгалтер", "Агроном", "Слесарь", "Электрик",
    "Пенсионер", "Студент", "Повар", "Сторож", "Библиотекарь", "Почтальон", "Фельдшер",
    "Ветеринарный врач", "Зоотехник", "Кочегар", "Столяр", "Экономист",
};
// clang-format on

// ---- Package rows ---------------------------------------------------------------------------

// A central value in the type of a package column.
QVariant asField(const Field &field, const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (field.type) {
    case FieldType::Alpha: {
        const QString s = v.toString().left(field.size);
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case FieldType::Long:
    case FieldType::Short:
        return v.toInt();
    case FieldType::Number:
        return v.toDouble();
    case FieldType::Logical:
        return v.typeId() == QMetaType::Bool ? v.toBool() : v.toDouble() != 0;
    case FieldType::Date:
    case FieldType::Timestamp: {
        if (v.typeId() == QMetaType::QDateTime || v.typeId() == QMetaType::QDate)
            return v;
        QString s = v.toString().trimmed();
        s.replace(QLatin1Char(' '), QLatin1Char('T'));
        const QDateTime t = QDateTime::fromString(s, Qt::ISODate);
        if (t.isValid())
            return t;
        const QDate d = QDate::fromString(s, Qt::ISODate);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    default:
        return v;
    }
}

Row asRow(const Schema &schema, const QVariantList &values)
{
    Row row(schema.fields.size());
    for (size_t i = 0; i < row.size() && qsizetype(i) < values.size(); ++i)
        row[i] = asField(schema.fields[i], values[qsizetype(i)]);
    return row;
}

// Sets a column by name; the schemas above are fixed, so a wrong name is a programming error.
void set(const Schema &schema, Row &row, const char *name, const QVariant &value)
{
    const int i = schema.indexOf(QLatin1String(name));
    Q_ASSERT(i >= 0);
    row[size_t(i)] = value;
}

QVariant orNull(bool present, const QVariant &value)
{
    return present ? value : QVariant();
}

class Writer
{
public:
    Writer(const QString &folder, const QString &file, const Schema &schema)
        : m_name(file), m_schema(schema),
          m_writer(std::make_unique<paradox::TableWriter>(
              paths::includeTrailing(folder) + file + QStringLiteral(".DB"), schema))
    {
    }
    const Schema &schema() const { return m_schema; }
    Row blank() const { return Row(m_schema.fields.size()); }
    void append(const Row &row) { m_writer->append(row); }
    void finish() { m_writer->finish(); }
    std::pair<QString, int> count() const { return {m_name, int(m_writer->rowCount())}; }

private:
    QString m_name;
    const Schema &m_schema;
    std::unique_ptr<paradox::TableWriter> m_writer;
};

struct Ids
{
    int wst = 0;
    QString wstName;
    QVariant hsp;
    QVariant reggid; // region of new cities
    std::vector<int> users;
};

struct Origin
{
    QDateTime created, updated;
};

class Generator
{
public:
    Generator(const Central &central, const PackageOptions &options, QString folder)
        : m_c(central), m_o(options), m_folder(std::move(folder)), m_rnd(options.seed, 0x7A1Cu)
    {
    }
    PackageSummary Run();

private:
    void copies();
    void dictionaries();
    void screening();
    Origin origin(const QDate &day);
    Row originRow(const Writer &w, const QDate &day, int user);
    void fillGeneric(const Schema &schema, Row &row, const QDate &day);
    void finish(Writer &w)
    {
        w.finish();
        m_counts.push_back(w.count());
    }

    const Central &m_c;
    const PackageOptions &m_o;
    QString m_folder;
    Random m_rnd;
    Ids m_ids;
    std::vector<std::pair<QString, int>> m_counts;
    std::vector<std::vector<int>> m_cityStreets; // StrLIDs per CityLID - 1
    int m_posts = 0, m_areas = 0;
};

Origin Generator::origin(const QDate &day)
{
    const QDateTime created(day, QTime(8, 0).addSecs(m_rnd.below(10 * 3600)));
    const QDateTime updated =
        m_rnd.percent(70) ? created : created.addSecs(3600LL * m_rnd.between(1, 24 * 60));
    return {created, updated};
}

Row Generator::originRow(const Writer &w, const QDate &day, int user)
{
    Row row = w.blank();
    const Origin o = origin(day);
    set(w.schema(), row, "CrDate", o.created);
    set(w.schema(), row, "LastUpdate", o.updated);
    set(w.schema(), row, "WstGID", m_ids.wst);
    set(w.schema(), row, "UserGID", user);
    return row;
}

void Generator::copies()
{
    const Central &c = m_c;
    Writer op(m_folder, QStringLiteral("Operator"), operatorTable);
    Writer ws(m_folder, QStringLiteral("Workstation"), workstationTable);
    Writer hs(m_folder, QStringLiteral("Hospital"), hospitalTable);
    Writer ht(m_folder, QStringLiteral("HospType"), hospTypeTable);
    Writer rg(m_folder, QStringLiteral("Region"), regionTable);
    Writer br(m_folder, QStringLiteral("Brigade"), brigadeTable);

    if (!m_o.newWorkstation) {
        m_ids.wst = c.wstGID;
        m_ids.wstName = c.wstName;
        m_ids.hsp = c.hspGID;
        m_ids.reggid = c.hospital[31];
        for (const QVariantList &o : c.operators) {
            m_ids.users.push_back(o[0].toInt());
            op.append(asRow(operatorTable, QVariantList{c.wstGID} + o));
        }
        ws.append(
            asRow(workstationTable, {c.wstGID, c.wstName, QDateTime(QDate(2005, 3, 1), QTime(0, 0)),
                                     c.hspGID, c.brgGID}));
        hs.append(asRow(hospitalTable, c.hospital));
        if (!c.hospType.isEmpty())
            ht.append(asRow(hospTypeTable, c.hospType));
        if (!c.region.isEmpty())
            rg.append(asRow(regionTable, c.region));
        if (!c.brigade.isEmpty())
            br.append(asRow(brigadeTable, c.brigade));
    } else {
        // Numbers past the centre's, apart for different seeds.
        const int k = 1 + int(m_o.seed % 1000);
        const int wst = c.maxWst + k, hsp = c.maxHsp + k, htp = c.maxHtp + k, reg = c.maxReg + k,
                  brg = c.maxBrg + k;
        const QString place = u(m_rnd.pick(demodata::Villages()));
        m_ids.wst = wst;
        m_ids.wstName = QStringLiteral("Передвижной комплекс %1, АРМ 1").arg(k);
        m_ids.hsp = hsp;
        m_ids.reggid = reg;
        m_ids.users = {1, 2};
        op.append({wst, 1, QStringLiteral("Иванова Е.П."), QStringLiteral("7F3A9C"), 1});
        op.append({wst, 2, QStringLiteral("Петров С.Н."), QStringLiteral("0"), 0});
        const QDateTime opened(QDate(2004, 9, 1), QTime(0, 0));
        ws.append({wst, m_ids.wstName, QDateTime(QDate(2005, 2, 14), QTime(10, 30)), hsp, brg});
        rg.append({reg, QStringLiteral("Новый район %1").arg(k),
                   QStringLiteral("529%1").arg(k, 8, 10, QLatin1Char('0'))});
        ht.append({htp, c.maxIdtmu + k, QStringLiteral("Передвижной медицинский комплекс"),
                   QStringLiteral("ПМК"), opened, QStringLiteral("Приказ № 101 от 01.09.2004"),
                   QVariant(), QVariant(), opened});
        const QString mu = QStringLiteral("ПМК ") + place;
        hs.append(
            {hsp,
             c.maxIdmu + k,
             mu,
             QString(QStringLiteral("Передвижной медицинский комплекс ") + place),
             QStringLiteral("P%1").arg(k, 4, 10, QLatin1Char('0')),
             c.maxIdtmu + k,
             true,
             QStringLiteral("Сидорова"),
             QStringLiteral("Анна"),
             QStringLiteral("Ивановна"),
             false,
             646000 + k,
             QStringLiteral("(38151) 2-14-%1").arg(k % 100, 2, 10, QLatin1Char('0')),
             QVariant(),
             QStringLiteral("(38151) 2-14-99"),
             true,
             QStringLiteral("pmk%1@example.ru").arg(k),
             QStringLiteral("2048"),
             QVariant(),
             QStringLiteral("646530"),
             QString(QStringLiteral("Омская обл., ") + place + QStringLiteral(", ул. Ленина")),
             12,
             QStringLiteral("а"),
             QVariant(),
             true,
             opened,
             QStringLiteral("Приказ № 101 от 01.09.2004"),
             QVariant(),
             QVariant(),
             opened,
             htp,
             reg});
        br.append({brg, QStringLiteral("Выездная бригада ПМК %1").arg(k),
                   c.cities.empty() ? QVariant() : QVariant(c.cities.front().gid)});
    }
    for (Writer *w : {&op, &ws, &hs, &ht, &rg, &br})
        finish(*w);
}

void Generator::fillGeneric(const Schema &schema, Row &row, const QDate &day)
{
    for (size_t i = 0; i < schema.fields.size(); ++i) {
        const Field &f = schema.fields[i];
        const QString &n = f.name;
        if (m_rnd.percent(6))
            continue; // left empty, as a workstation leaves unanswered questions
        switch (f.type) {
        case FieldType::Logical:
            row[i] = m_rnd.percent(25);
            break;
        case FieldType::Short:
            if (n.endsWith(QLatin1String("Date")))
                row[i] = m_rnd.percent(70) ? QVariant() : QVariant(m_rnd.between(1975, 2005));
            else if (n.startsWith(QLatin1String("AD")) && n.endsWith(QLatin1String("Hi")))
                row[i] = m_rnd.between(100, 190);
            else if (n.startsWith(QLatin1String("AD")) && n.endsWith(QLatin1String("Low")))
                row[i] = m_rnd.between(60, 110);
            else if (n == QLatin1String("Puls"))
                row[i] = m_rnd.between(55, 100);
            else
                row[i] = m_rnd.below(4);
            break;
        case FieldType::Number:
            if (n == QLatin1String("Rost") || n == QLatin1String("ObjGrowth"))
                row[i] = m_rnd.real(150, 195, 0);
            else if (n == QLatin1String("Massa") || n == QLatin1String("ObjMass"))
                row[i] = m_rnd.real(45, 120, 1);
            else if (n.startsWith(QLatin1String("Size")) || n.startsWith(QLatin1String("ObjCirc")))
                row[i] = m_rnd.real(60, 125, 0);
            else
                row[i] = m_rnd.real(0, 10, 1);
            break;
        case FieldType::Alpha:
            if (f.size == 3)
                row[i] = m_rnd.percent(50) ? QStringLiteral("да") : QStringLiteral("нет");
            else if (f.size == 4)
                row[i] = m_rnd.percent(50) ? QStringLiteral("дом") : QStringLiteral("раб");
            else if (f.size > 10)
                row[i] = m_rnd.percent(90) ? QVariant()
                                           : QVariant(QStringLiteral("по месту жительства"));
            else
                row[i] = QString::number(m_rnd.between(1000, 999999));
            break;
        case FieldType::Date:
            row[i] = day;
            break;
        default:
            break;
        }
    }
}

void Generator::dictionaries()
{
    const int n = m_o.persons;
    const int cities = std::clamp(n / 100, 4, 400);
    const int known = std::min<int>(cities / 2, int(m_c.cities.size()));
    const QDate start(2005, 1, 1);
    const auto villages = demodata::Villages();
    const auto streetNames = demodata::Streets();

    Writer city(m_folder, QStringLiteral("City"), cityTable);
    Writer street(m_folder, QStringLiteral("Street"), streetTable);
    QSet<QString> soatos = m_c.soatos;
    QString lastNewSoato;
    int knownUsed = 0, newMade = 0, strLid = 0;
    m_cityStreets.assign(size_t(cities), {});
    for (int lid = 1; lid <= cities; ++lid) {
        const int user = m_rnd.pick(m_ids.users);
        const QDate day = start.addDays(m_rnd.below(60));
        Row row = originRow(city, day, user);
        const Schema &s = city.schema();
        set(s, row, "CityLID", lid);
        set(s, row, "CityLocCod", QStringLiteral("Н%1").arg(lid));
        QStringList centralStreets;
        if ((lid % 2 == 1 || newMade >= cities - known) && knownUsed < known) {
            // A settlement the centre knows by its SOATO code.
            const KnownCity &k = m_c.cities[size_t(knownUsed++)];
            set(s, row, "CityName", k.name);
            set(s, row, "CitySoato", k.soato);
            set(s, row, "CityOkato", orNull(!k.okato.isEmpty(), k.okato));
            set(s, row, "RegGID", k.reggid.isNull() ? QVariant() : QVariant(k.reggid.toInt()));
            centralStreets = k.streets;
        } else {
            // A new settlement; the last two new ones share a code, as a workstation may enter
            // one settlement twice.
            QString name = u(villages[size_t(newMade) % villages.size()]);
            if (newMade >= int(villages.size()))
                name += QStringLiteral(" %1-е").arg(newMade / int(villages.size()) + 1);
            QString soato;
            if (newMade == cities - known - 1 && !lastNewSoato.isEmpty()) {
                soato = lastNewSoato;
            } else {
                for (int j = 0; soato.isEmpty() || soatos.contains(soato); ++j)
                    soato = QStringLiteral("529%1").arg(
                        (m_o.seed * 7919 + quint64(newMade) * 131 + quint64(j)) % 10000000, 7, 10,
                        QLatin1Char('0'));
                soatos.insert(soato);
            }
            lastNewSoato = soato;
            ++newMade;
            set(s, row, "CityName", name.left(50));
            set(s, row, "CitySoato", soato);
            set(s, row, "CityOkato",
                orNull(m_rnd.percent(50), QString(soato + QStringLiteral("0"))));
            set(s, row, "RegGID", m_ids.reggid);
        }
        city.append(row);

        // Streets: some the centre has for this settlement, some new.
        const int want = m_rnd.between(2, 8);
        QStringList names;
        for (const QString &cs : centralStreets)
            if (names.size() < want / 2 && cs.size() <= 50)
                names << cs;
        const int offset = m_rnd.below(int(streetNames.size()));
        for (int j = 0; names.size() < want && j < int(streetNames.size()); ++j) {
            const QString candidate = u(streetNames[size_t(offset + j) % streetNames.size()]);
            if (!names.contains(candidate) && !centralStreets.contains(candidate))
                names << candidate;
        }
        for (const QString &name : names) {
            Row sr = originRow(street, day.addDays(m_rnd.below(5)), m_rnd.pick(m_ids.users));
            set(street.schema(), sr, "StrLID", ++strLid);
            set(street.schema(), sr, "StrName", name.left(50));
            set(street.schema(), sr, "StrLocCod", QStringLiteral("У%1").arg(strLid));
            set(street.schema(), sr, "CityLID", lid);
            street.append(sr);
            m_cityStreets[size_t(lid - 1)].push_back(strLid);
        }
    }
    finish(city);
    finish(street);

    Writer post(m_folder, QStringLiteral("Post"), postTable);
    QStringList postNames = m_c.posts;
    for (const char *p : posts)
        if (!postNames.contains(u(p)))
            postNames << u(p);
    m_posts = int(postNames.size());
    for (int lid = 1; lid <= m_posts; ++lid) {
        Row row = originRow(post, start.addDays(m_rnd.below(30)), m_rnd.pick(m_ids.users));
        set(post.schema(), row, "PosLID", lid);
        set(post.schema(), row, "PosName", postNames[lid - 1].left(50));
        set(post.schema(), row, "PosLocCod", QStringLiteral("Д%1").arg(lid));
        post.append(row);
    }
    finish(post);

    Writer area(m_folder, QStringLiteral("RegistrationArea"), areaTable);
    QStringList codes = m_c.areaCodes;
    m_areas = std::clamp(n / 500, 2, 50);
    for (int j = 1; codes.size() < m_areas; ++j) {
        const QString code = QStringLiteral("Уч. %1").arg(j, 2, 10, QLatin1Char('0'));
        if (!codes.contains(code))
            codes << code;
    }
    m_areas = int(codes.size());
    for (int lid = 1; lid <= m_areas; ++lid) {
        Row row = originRow(area, start.addDays(m_rnd.below(30)), m_rnd.pick(m_ids.users));
        set(area.schema(), row, "AreaLID", lid);
        set(area.schema(), row, "AreaCode", codes[lid - 1].left(10));
        set(area.schema(), row, "HspGID", m_ids.hsp);
        area.append(row);
    }
    finish(area);
}

void Generator::screening()
{
    const int n = m_o.persons;
    const int addresses = std::max(1, n * 7 / 10);
    const QDate start(2005, 1, 1);
    const int cities = int(m_cityStreets.size());

    Writer address(m_folder, QStringLiteral("Address"), addressTable);
    for (int lid = 1; lid <= addresses; ++lid) {
        Row row = originRow(address, start.addDays(m_rnd.below(700)), m_rnd.pick(m_ids.users));
        const Schema &s = address.schema();
        const int cityLid = 1 + m_rnd.below(cities);
        const std::vector<int> &streets = m_cityStreets[size_t(cityLid - 1)];
        set(s, row, "AdrLID", lid);
        QString house = QString::number(m_rnd.between(1, 120));
        if (m_rnd.percent(10))
            house += m_rnd.percent(50) ? QStringLiteral("а") : QStringLiteral("б");
        set(s, row, "AdrHousNum", house);
        set(s, row, "AdrRoomNum", orNull(m_rnd.percent(60), m_rnd.between(1, 150)));
        set(s, row, "CityLID", cityLid);
        set(s, row, "StrLID",
            orNull(!streets.empty() && m_rnd.percent(90),
                   streets.empty() ? 0 : m_rnd.pick(streets)));
        address.append(row);
    }
    finish(address);

    Writer person(m_folder, QStringLiteral("Person"), personTable);
    Writer document(m_folder, QStringLiteral("Document"), documentTable);
    Writer inspection(m_folder, QStringLiteral("PrimaryInspection"), inspectionTable);
    Writer primDiag(m_folder, QStringLiteral("PrimDiag"), diagTable);
    Writer card(m_folder, QStringLiteral("ScriningCard"), cardTable);
    Writer mapDiag(m_folder, QStringLiteral("MapDiag"), diagTable);
    const auto surnames = demodata::MaleSurnames();
    const auto male = demodata::MaleNames();
    const auto female = demodata::FemaleNames();
    const auto patronymics = demodata::Patronymics();
    const int inspectionType = m_c.docTypes[0];
    const int cardType = m_c.docTypes[1 % m_c.docTypes.size()];
    const int otherType = m_c.docTypes[2 % m_c.docTypes.size()];
    auto medicine = [&]() {
        return orNull(!m_c.medicines.empty() && m_rnd.percent(40),
                      m_c.medicines.empty() ? 0 : m_rnd.pick(m_c.medicines));
    };
    auto diagnoses = [&](Writer &w, int docLid, const QDate &day, int user) {
        const int count = m_rnd.below(4);
        QSet<qint64> seen;
        for (int j = 0; j < count; ++j) {
            const int diag = m_rnd.pick(m_c.diagnoses);
            const int type = m_rnd.between(1, 2);
            if (seen.contains(qint64(diag) * 10 + type))
                continue;
            seen.insert(qint64(diag) * 10 + type);
            Row row = originRow(w, day, user);
            set(w.schema(), row, "DiagGID", diag);
            set(w.schema(), row, "DocLID", docLid);
            set(w.schema(), row, "DiagType", type);
            w.append(row);
        }
    };

    int docLid = 0;
    for (int lid = 1; lid <= n; ++lid) {
        const int user = m_rnd.pick(m_ids.users);
        const QDate day = start.addDays(m_rnd.below(700));
        Row row = originRow(person, day, user);
        const Schema &s = person.schema();
        const bool woman = m_rnd.percent(55);
        QString surname = u(m_rnd.pick(surnames));
        QString patronymic = u(m_rnd.pick(patronymics));
        if (woman) {
            surname += QChar(u'а');
            if (patronymic.endsWith(QStringLiteral("ич")))
                patronymic = patronymic.left(patronymic.size() - 2) + QStringLiteral("на");
        }
        set(s, row, "PrnLID", lid);
        set(s, row, "PrnSurName", surname.left(15));
        set(s, row, "PrnName", u(woman ? m_rnd.pick(female) : m_rnd.pick(male)).left(15));
        set(s, row, "PrnOtch", patronymic.left(15));
        set(s, row, "PrnSex", woman ? 2 : 1);
        set(s, row, "PrnDate", QDate(1930, 1, 1).addDays(m_rnd.below(58 * 365)));
        if (woman && m_rnd.percent(30))
            set(s, row, "PrnMdnName", QString(u(m_rnd.pick(surnames)) + QChar(u'а')).left(15));
        if (m_rnd.percent(50))
            set(s, row, "PrnPhone", QStringLiteral("8-3812-%1").arg(m_rnd.between(100000, 999999)));
        set(s, row, "AreaLID", orNull(m_rnd.percent(90), 1 + m_rnd.below(m_areas)));
        set(s, row, "PosLID", orNull(m_rnd.percent(80), 1 + m_rnd.below(m_posts)));
        set(s, row, "AdrLID", 1 + m_rnd.below(addresses));
        // Relatives: mostly someone entered before, now and then someone entered later.
        const int ref = m_rnd.below(100);
        if (ref < 8 && lid > 1)
            set(s, row, "PrnRefLID", 1 + m_rnd.below(lid - 1));
        else if (ref >= 96 && lid < n)
            set(s, row, "PrnRefLID", lid + 1 + m_rnd.below(n - lid));
        if (m_rnd.percent(70))
            set(s, row, "paspor", QStringLiteral("52%1").arg(m_rnd.between(10000000, 99999999)));
        person.append(row);

        const int documents = m_rnd.percent(20) ? 2 : 1;
        for (int d = 0; d < documents; ++d) {
            const QDate docDay = day.addDays(m_rnd.below(30));
            const int kind = m_rnd.below(10); // 0..4 inspection, 5..8 card, 9 neither
            const int type = kind < 5 ? inspectionType : kind < 9 ? cardType : otherType;
            const QString number = QString::number(100000 + (++docLid));
            Row doc = originRow(document, docDay, user);
            set(document.schema(), doc, "DocLID", docLid);
            set(document.schema(), doc, "DocDate", docDay);
            set(document.schema(), doc, "DocNumber", number);
            set(document.schema(), doc, "DtpGID", type);
            set(document.schema(), doc, "PrnLID", lid);
            document.append(doc);
            if (kind < 5) {
                Row pi = inspection.blank();
                fillGeneric(inspection.schema(), pi, docDay);
                const Row o = originRow(inspection, docDay, user);
                std::copy(o.end() - 4, o.end(), pi.end() - 4);
                const Schema &is = inspection.schema();
                set(is, pi, "DocLID", docLid);
                set(is, pi, "PinNumber", number);
                set(is, pi, "PinInsDate", docDay);
                set(is, pi, "MprGID1", medicine());
                set(is, pi, "MprGID2", medicine());
                inspection.append(pi);
                diagnoses(primDiag, docLid, docDay, user);
            } else if (kind < 9) {
                Row sc = card.blank();
                fillGeneric(card.schema(), sc, docDay);
                const Row o = originRow(card, docDay, user);
                std::copy(o.end() - 4, o.end(), sc.end() - 4);
                const Schema &cs = card.schema();
                set(cs, sc, "DocLID", docLid);
                set(cs, sc, "CardNumber", number);
                set(cs, sc, "CardDate", docDay);
                set(cs, sc, "Prep1GID", medicine());
                set(cs, sc, "Prep2GID", medicine());
                set(cs, sc, "PostLID", orNull(m_rnd.percent(70), 1 + m_rnd.below(m_posts)));
                card.append(sc);
                diagnoses(mapDiag, docLid, docDay, user);
            }
        }
    }
    for (Writer *w : {&person, &document, &inspection, &primDiag, &card, &mapDiag})
        finish(*w);
}

PackageSummary Generator::Run()
{
    copies();
    dictionaries();
    screening();
    PackageSummary summary;
    summary.wstGID = m_ids.wst;
    summary.wstName = m_ids.wstName;
    for (const QString &name : PackageTableNames())
        for (const auto &count : m_counts)
            if (count.first == name)
                summary.counts.push_back(count);
    return summary;
}

QString centralPassword(const PackageOptions &options)
{
    return options.password.isEmpty() ? qEnvironmentVariable("ZORU_PASSWORD") : options.password;
}

// Removes the volumes of a set that failed half-way: the first one and its ".w00", ".w01", ...
void removeVolumes(const QString &first)
{
    QFile::remove(first);
    for (int i = 1;; ++i) {
        const QString volume = VolumeCandidates(first, i).constFirst();
        if (!QFileInfo::exists(volume))
            break;
        QFile::remove(volume);
    }
}

// Gives the files of a folder the modification time `t`, which the archive keeps: the same
// clock and seed then make the same package byte for byte.
void stampFiles(const QString &folder, const QDateTime &t)
{
    for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        QFile file(fi.absoluteFilePath());
        if (!file.open(QIODevice::ReadWrite) ||
            !file.setFileTime(t, QFileDevice::FileModificationTime))
            throw EFileError(QStringLiteral("Не удалось установить время файла %1: %2")
                                 .arg(file.fileName(), file.errorString()));
    }
}

} // namespace

PackageSummary WritePackage(const PackageOptions &options)
{
    if (options.persons < 1)
        throw Exception(QStringLiteral("Число персон должно быть больше 0"));
    const QString folder = QDir::cleanPath(QDir(options.folder).absolutePath());
    const TIniFile ini(QDir(folder).absoluteFilePath(IniFileName));
    const QString &s = StrConst::SettingsSection;
    const QString importPath = SitePath(folder, ini.ReadString(s, StrConst::ImportKey, QString()));
    const QString alias = ini.ReadString(s, StrConst::SrvDBKey, QString());
    if (importPath.isEmpty() || alias.isEmpty())
        throw Exception(QStringLiteral("В папке %1 нет демонстрационной установки").arg(folder));
    if (!QFileInfo(importPath).isDir())
        throw EFileError(QStringLiteral("Папка импорта не найдена: %1").arg(importPath));
    const QString appFolder = options.appFolder.isEmpty() ? folder : options.appFolder;
    if (!QFileInfo(paths::includeTrailing(appFolder) + ArchiverProgram()).isExecutable())
        throw EFileError(QStringLiteral("Не найден архиватор %1")
                             .arg(paths::includeTrailing(appFolder) + ArchiverProgram()));

    TAliasStore aliases(QDir(folder).absoluteFilePath(StrConst::AliasFileName));
    Central central;
    {
        TDatabase db(StrConst::CenterDatabaseName, &aliases);
        db.AliasName = alias;
        db.LoginPrompt = false;
        db.Params << QStringLiteral("USER NAME=") +
                         ini.ReadString(s, StrConst::UserNameKey, DemoUser);
        if (!centralPassword(options).isEmpty())
            db.Params << QStringLiteral("PASSWORD=") + centralPassword(options);
        db.Open();
        central = readCentral(db, options.seed);
        db.Close();
    }

    TWorkFolder work(importPath, QStringLiteral("zoru-demo-package"));
    PackageSummary summary = Generator(central, options, work.Path()).Run();

    // Named as a workstation names its packages: its name and the moment, like the export.
    QDateTime t = TClock::Now();
    QString name, first;
    for (;;) {
        const QString stamp = t.toString(QStringLiteral("yyyyMMddHHmmss"));
        name = SafeFileName(summary.wstName.left(12)) + QLatin1Char('_') + stamp;
        first = paths::includeTrailing(importPath) + name + WstToSrvExtension;
        if (!QFileInfo::exists(first) &&
            !QFileInfo::exists(VolumeCandidates(first, 1).constFirst()))
            break;
        t = t.addSecs(1);
    }
    const QString comment = QStringLiteral("%1_%2_от %3")
                                .arg(summary.wstGID, 6, 10, QLatin1Char('0'))
                                .arg(t.toString(QStringLiteral("yyyyMMddHHmmss")), summary.wstName);
    stampFiles(work.Path(), t);
    int code = 1;
    try {
        code = PackFolder(appFolder, work.Path(), comment, name + WstToSrvExtension);
    } catch (...) {
        removeVolumes(first);
        throw;
    }
    if (code != 0) {
        removeVolumes(first);
        throw Exception(QStringLiteral("Ошибка при архивации (код %1)").arg(code));
    }
    summary.firstVolume = QDir::toNativeSeparators(first);
    return summary;
}

} // namespace demo
