// The diagnoses, document types and medicines of the demo rows.
#include "demobuilder.h"
#include "demodata.h"

#include <QLocale>
#include <QVariant>
#include <iterator>

namespace demo::detail {

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

} // namespace demo::detail
