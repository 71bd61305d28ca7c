#include "sync/syncjob.h"

#include "core/appinfo.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/memtable.h"
#include "engine/query.h"
#include "engine/sqlscript.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "jobs/copyrecords.h"
#include "sync/hospitalcopy.h"
#include "sync/syncparts.h"

#include <QHash>
#include <optional>

namespace {

const QString kEsvsDatabaseName = QStringLiteral("ESVS");
const QString kTitle = QStringLiteral("Импорт внешних справочников из БД \"DidoZorer\"");

// The transaction of a copy of regions or types. On SQLite every commit waits for the disk, and
// a refused statement leaves the transaction usable, so the rows go in one transaction committed
// however the copy ends. Where a refused row would abort the transaction and take the earlier
// rows with it, each row is committed on its own.
bool batched(const TDatabase &db)
{
    return !db.RefusalAbortsTransaction();
}

// A region code as the copy of regions compares it: without trailing blanks and case.
QString regionCodeKey(const QVariant &code)
{
    return esvs::WithoutTrailingBlanks(code.toString()).toUpper();
}

QStringList lines(std::initializer_list<const char16_t *> text)
{
    QStringList out;
    for (const char16_t *line : text)
        out << QString::fromUtf16(line);
    return out;
}

} // namespace

const QStringList &TImExternalToServer::RegionSQL()
{
    // The regions are the address objects whose code ends in six zeros, each at its smallest
    // RAZDEL. That smallest RAZDEL is taken over the candidates of one code in a single pass
    // (a window function): found by a subquery per candidate, or by a join a server may run as
    // a nested loop, it reads the whole of ADRES for each candidate where K_ADMN has no index
    // (seconds at twenty thousand addresses). The code is tested without its trailing blanks: a
    // fixed-length K_ADMN keeps them under LIKE on some servers, and '52000000000  ' does not
    // end in six zeros. The rows come in the order of the addresses, as a scan of ADRES gave
    // them.
    static const QStringList sql = lines({
        u"SELECT    CAST(UPPER(ADRES) AS varchar(255)) AS REGNAME, K_ADMN AS REGOKATO",
        u"FROM         (SELECT     ADRES, K_ADMN, RAZDEL, IDADRES,",
        u"                         MIN(RAZDEL) OVER (PARTITION BY K_ADMN) AS MINRAZDEL",
        u"              FROM       ADRES",
        u"              WHERE      RTRIM(K_ADMN) LIKE '%000000') A1",
        u"WHERE     RAZDEL = MINRAZDEL",
        u"ORDER BY  IDADRES",
    });
    return sql;
}

const QStringList &TImExternalToServer::HospTypeSQL()
{
    static const QStringList sql = lines({
        u"SELECT    ",
        u"    IDTMU           ,",
        u"    CAST(UPPER(TMU) AS varchar(255)) AS TMU             ,",
        u"    CAST(UPPER(CODTMU) AS varchar(255)) AS CODTMU           ,",
        u"    BGDATE      ,",
        u"    CAST(UPPER(BGREASON) AS varchar(255)) AS BGREASON,",
        u"    CLDATE       ,",
        u"    CAST(UPPER(CLREASON  ) AS varchar(255)) AS CLREASON  ,",
        u"    CRDATE",
        u"FROM         TMU",
    });
    return sql;
}

const QStringList &TImExternalToServer::HospitalSQL()
{
    static const QStringList sql = lines({
        u"SELECT  MU.IDMU AS IDMU, ",
        u"\tCAST(UPPER(MU) AS varchar(100)) AS MU,",
        u"\tCAST(UPPER(MUFL) AS varchar(250)) AS MUFL,",
        u"\tCAST(UPPER(CODMU) AS varchar(10)) AS CODMU,",
        u"\tMU.IDTMU  AS IDTMU, ",
        u"\tMU.OFFICE  AS OFFICE, ",
        u"\tCAST(UPPER(SURNAMER) AS varchar(50)) AS SURNAMER,",
        u"\tCAST(UPPER(NAME_R) AS varchar(30)) AS NAME_R,",
        u"\tCAST(UPPER(SECNAMER) AS varchar(30)) AS SECNAMER,",
        u"\tMU.RSECNAME AS RSECNAME, ",
        u"\tMU.IDPOST AS IDPOST, ",
        u"\tCAST(UPPER(PHONE_R) AS varchar(20)) AS PHONE_R,",
        u"\tCAST(UPPER(EMAIL) AS varchar(64)) AS EMAIL,",
        u"\tMU.EMSIZE AS EMSIZE, ",
        u"\tMU.IDADRES AS IDADRES, ",
        u"\tMU.OMS AS OMS, ",
        u"\tMU.BGDATE AS BGDATE, ",
        u"\tCAST(UPPER(MU.BGREASON) AS varchar(255)) AS BGREASON,",
        u"\tMU.CLDATE AS CLDATE, ",
        u"\tCAST(UPPER(MU.CLREASON  ) AS varchar(255)) AS CLREASON  ,",
        u"\tMU.CRDATE AS CRDATE, ",
        u"\tADRES.K_ADMN AS OKATO",
        u"FROM    MU LEFT JOIN ADRES ON (MU.IDADRES = ADRES.IDADRES)",
        u"ORDER BY IDMU",
    });
    return sql;
}

const QStringList &TImExternalToServer::RegionFields()
{
    static const QStringList fields = {QStringLiteral("REGNAME"), QStringLiteral("REGOKATO")};
    return fields;
}

const QStringList &TImExternalToServer::HospTypeFields()
{
    static const QStringList fields = {QStringLiteral("IDTMU"),    QStringLiteral("TMU"),
                                       QStringLiteral("CODTMU"),   QStringLiteral("BGDATE"),
                                       QStringLiteral("BGREASON"), QStringLiteral("CLDATE"),
                                       QStringLiteral("CLREASON"), QStringLiteral("CRDATE")};
    return fields;
}

const QStringList &TImExternalToServer::HospitalFields()
{
    static const QStringList fields = {
        QStringLiteral("IDMU"),     QStringLiteral("MU"),       QStringLiteral("MUFL"),
        QStringLiteral("CODMU"),    QStringLiteral("IDTMU"),    QStringLiteral("OFFICE"),
        QStringLiteral("SURNAMER"), QStringLiteral("NAME_R"),   QStringLiteral("SECNAMER"),
        QStringLiteral("RSECNAME"), QStringLiteral("IDPOST"),   QStringLiteral("PHONE_R"),
        QStringLiteral("EMAIL"),    QStringLiteral("EMSIZE"),   QStringLiteral("IDADRES"),
        QStringLiteral("OMS"),      QStringLiteral("BGDATE"),   QStringLiteral("BGREASON"),
        QStringLiteral("CLDATE"),   QStringLiteral("CLREASON"), QStringLiteral("CRDATE"),
        QStringLiteral("HTPGID"),   QStringLiteral("REGGID")};
    return fields;
}

QString TImExternalToServer::RegionCodeOf(const QVariant &okato)
{
    if (engine::IsNullValue(okato))
        return {};
    const QString code = esvs::WithoutTrailingBlanks(okato.toString());
    if (code.trimmed().isEmpty() || code.size() < 6)
        return {};
    return code.left(code.size() - 6) + QStringLiteral("000000");
}

TImExternalToServer::TImExternalToServer(const TJobContext &context, const TAppInfo &info,
                                         const TDatabase &center)
    : TSrvRplThread(context, info, center)
{
    // The alias key is read first: without it there is nothing to log in to.
    const QString alias = Info().ESVSDBAlias();
    m_esvs = std::make_unique<TDatabase>(kEsvsDatabaseName, &Info().Aliases());
    m_esvs->AliasName = alias;
    m_esvs->ReadOnly = true;
    m_esvs->LoginPrompt = true;
    m_esvs->Params = {QStringLiteral("USER NAME=") + Info().ReadString(StrConst::SettingsSection,
                                                                       StrConst::UserNameESVSKey,
                                                                       QString())};
    m_esvs->Open();
}

TImExternalToServer::~TImExternalToServer()
{
    // The body has ended by now (a runner destroys a job only after its end); its own
    // connection was released on its thread.
    m_esvs->Close();
}

void TImExternalToServer::PrepareWindow()
{
    Window().SetCaption(kTitle);
    Window().ClearMessages();
}

void TImExternalToServer::Execute()
{
    m_tables.clear();
    m_refused.clear();
    RunGuarded(kTitle, StrConst::ImportDone, [this] { synchronise(); });
}

TSyncResult TImExternalToServer::Result() const
{
    return {Outcome().End, Outcome().Error, m_tables, m_refused};
}

void TImExternalToServer::ThreadCleanup()
{
    m_esvsWorker.reset();
    TSrvRplThread::ThreadCleanup();
}

void TImExternalToServer::synchronise()
{
    TDatabase &center = Center();
    if (!m_esvsWorker) {
        m_esvsWorker = m_esvs->CloneForThread();
        m_esvsWorker->Open();
    }
    TDatabase &esvs = *m_esvsWorker;

    for (const auto &[table, copy] :
         {std::pair{QStringLiteral("Region"), &TImExternalToServer::copyRegions},
          std::pair{QStringLiteral("HospType"), &TImExternalToServer::copyHospTypes},
          std::pair{QStringLiteral("Hospital"), &TImExternalToServer::copyHospitals}}) {
        Log(StrConst::ImportTable + table);
        m_tables.append({table, (this->*copy)(esvs, center)});
        LogRecordCount(m_tables.last().Rows);
    }
}

int TImExternalToServer::copyRegions(TDatabase &esvs, TDatabase &center)
{
    TQuery source(&esvs);
    source.Name = QStringLiteral("esvsRegion");
    source.SetSQL(RegionSQL());
    // K_ADMN comes padded to its fixed length; the central code is kept and compared without
    // the blanks, so that a run finds the rows of the one before and the hospitals' cut codes
    // find their region.
    QList<TColumn> columns;
    std::vector<QVariantList> rows;
    source.ScanRows(
        [&rows](const QVariantList &row) {
            rows.push_back(row);
            return true;
        },
        &columns);
    TMemoryTable trimmed;
    trimmed.Name = source.Name;
    trimmed.SetFieldDefs(columns);
    trimmed.Open();
    const int code = static_cast<int>(
        std::find_if(columns.begin(), columns.end(),
                     [](const TColumn &c) {
                         return c.Name.compare(QLatin1String("REGOKATO"), Qt::CaseInsensitive) == 0;
                     }) -
        columns.begin());
    for (QVariantList &row : rows) {
        if (code < row.size() && !engine::IsNullValue(row[code]))
            row[code] = esvs::WithoutTrailingBlanks(row[code].toString());
        trimmed.AppendRecord(row);
    }

    TTable dest(&center, QStringLiteral("REGION"));
    dest.Name = QStringLiteral("impRegion");
    TCloseOnExit close{&dest};
    dest.Open();
    // A central code is compared without its trailing blanks too (and without regard to case),
    // so that one left padded by an older program or by hand is found, and written back
    // without them, instead of its region being made a second time.
    const QString codeName = QStringLiteral("REGOKATO");
    const QString idName = QStringLiteral("REGGID");
    QHash<QString, QVariant> regionByCode =
        esvs::ValuesByKey<QString>(dest, codeName, idName, regionCodeKey);
    dest.AfterPost = [&](TDataSet &written) {
        const QString code = regionCodeKey(written.FieldByName(codeName)->AsVariant());
        if (!regionByCode.contains(code))
            regionByCode.insert(code, written.FieldByName(idName)->AsVariant());
    };
    const TField *sourceCode = trimmed.FieldByName(codeName);
    return copyBatched(trimmed, dest, codeName, RegionFields(), [&] {
        const auto found = regionByCode.constFind(regionCodeKey(sourceCode->AsVariant()));
        return found != regionByCode.cend() && dest.Locate(idName, *found);
    });
}

int TImExternalToServer::copyHospTypes(TDatabase &esvs, TDatabase &center)
{
    TQuery source(&esvs);
    source.Name = QStringLiteral("esvsHospType");
    source.SetSQL(HospTypeSQL());
    TTable dest(&center, QStringLiteral("HOSPTYPE"));
    dest.Name = QStringLiteral("impHospType");
    return copyBatched(source, dest, QStringLiteral("IDTMU"), HospTypeFields());
}

int TImExternalToServer::copyBatched(TDataSet &source, TTable &dest, const QString &key,
                                     const QStringList &fields,
                                     const std::function<bool()> &findDest)
{
    std::optional<esvs::KeepWrittenRows> batch;
    if (batched(*dest.Database()))
        batch.emplace(*dest.Database());
    const int count = ::CopyRecords(Report(), source, dest, key, fields, findDest);
    if (batch)
        batch->Commit();
    return count;
}

int TImExternalToServer::copyHospitals(TDatabase &esvs, TDatabase &center)
{
    TQuery source(&esvs);
    source.Name = QStringLiteral("esvsHospital");
    source.SetSQL(HospitalSQL());
    // The gauge's total is the number of rows of the query, counted without computing their
    // columns (upper-cased texts on the server).
    TQuery count(&esvs);
    count.Name = QStringLiteral("esvsHospitalCount");
    for (const QString &line : HospitalSQL())
        if (line.startsWith(QLatin1String("FROM ")))
            count.SetSQL({QStringLiteral("SELECT COUNT(*)"), line});
    TCloseOnExit close{&count};
    Position = 0;
    count.Open();
    Total = count.Fields(0)->AsInteger();
    count.Close();
    UpdateGauge();
    return CopyHospitals(Report(), source, center, m_refused);
}
