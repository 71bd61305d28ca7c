// The hospital types and hospitals of the demo rows.
#include "demobuilder.h"
#include "demodata.h"

#include <QVariant>
#include <algorithm>

namespace demo::detail {

namespace {

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

} // namespace

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

} // namespace demo::detail
