#include "sync/hospitalcopy.h"

#include "core/errors.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "engine/query.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "jobs/jobreport.h"
#include "sync/syncjob.h"
#include "sync/syncparts.h"

#include <vector>

namespace {

using engine::TRow;

// Columns of a source row copied by position; the last one, OKATO, only leads to the region.
constexpr int kCopied = 21;
constexpr int kIdtmu = 4;
// Source rows read ahead, whose central rows are read at once.
constexpr size_t kWindow = 256;

// A source value that its central column cannot hold: the hospital is refused as the database
// would refuse it. Text is not read as a flag ("yes", "да", ...): what ЕСВС means by it is a
// guess, and a guessed flag would be stored without a word, where a refusal names the hospital.
class ValueRefused : public EDatabaseError
{
public:
    explicit ValueRefused(const QString &message) : EDatabaseError(message) {}
};

// Writes windows of source rows into HOSPITAL.
//
// Where a refused statement would abort the transaction, a savepoint per row costs a round trip
// per row on top of its write. A window is therefore first written behind one savepoint; should
// any of its rows fail, the window is undone and written again row by row, each behind a
// savepoint of its own, so that the refused row is reported and skipped as it would have been
// from the start. Elsewhere the rows are written one by one straight away.
class HospitalWriter
{
public:
    HospitalWriter(TJobReport &report, TDatabase &center, QList<TRefusedHospital> &refused);
    HospitalWriter(const HospitalWriter &) = delete;
    HospitalWriter &operator=(const HospitalWriter &) = delete;

    // Writes the rows of a window; columns describe them.
    void Write(const std::vector<TRow> &window, const QList<TColumn> &columns);
    int Count() const { return m_count; }

private:
    bool writeAtOnce(const std::vector<TRow> &window);
    void writeRowByRow(const std::vector<TRow> &window);
    void keepCentralRows(const std::vector<TRow> &window);
    // The row made current (found by IDMU, or new) and given the source's values.
    void prepareRow(const TRow &row);
    // Posts the prepared row; a refusal is reported and the row skipped.
    void postOrReport(const TRow &row);
    // The row is undone and reported as refused.
    void refuse(const TRow &row, const Exception &why);
    // The row is done: the gauge, then a stop request is honoured.
    void advance();

    TJobReport &m_report;
    TDatabase &m_center;
    QList<TRefusedHospital> &m_refused;
    TTable m_hospital;
    TRowSavepoints m_savepoints;
    QHash<QString, QVariant> m_regionByCode;
    QHash<qint64, QVariant> m_typeById;
    std::vector<TField *> m_copied;
    TField *m_htpgid = nullptr;
    TField *m_reggid = nullptr;
    int m_count = 0;
};

HospitalWriter::HospitalWriter(TJobReport &report, TDatabase &center,
                               QList<TRefusedHospital> &refused)
    : m_report(report), m_center(center), m_refused(refused),
      m_hospital(&center, QStringLiteral("HOSPITAL")), m_savepoints(center)
{
    m_hospital.Name = QStringLiteral("impHospital");
    // Every change of HOSPITAL in this step passes through this table: the rows it keeps for a
    // window stay true.
    m_hospital.CacheLookups = true;
    TTable locHospType(&center, QStringLiteral("HOSPTYPE"));
    locHospType.Name = QStringLiteral("locHospType");
    TTable locRegion(&center, QStringLiteral("REGION"));
    locRegion.Name = QStringLiteral("locRegion");
    TCloseOnExit close{&locHospType, &locRegion};
    m_hospital.Open();
    locHospType.Open();
    locRegion.Open();
    // The look-ups are read once, after the regions and types of this run were written. A code
    // is compared without its trailing blanks on both sides.
    m_regionByCode = esvs::ValuesByKey<QString>(
        locRegion, QStringLiteral("REGOKATO"), QStringLiteral("REGGID"),
        [](const QVariant &code) { return esvs::WithoutTrailingBlanks(code.toString()); });
    m_typeById =
        esvs::ValuesByKey<qint64>(locHospType, QStringLiteral("IDTMU"), QStringLiteral("HTPGID"),
                                  [](const QVariant &id) { return id.toLongLong(); });
    const QStringList &fields = TImExternalToServer::HospitalFields();
    for (int i = 0; i < kCopied; ++i)
        m_copied.push_back(m_hospital.FieldByName(fields.at(i)));
    m_htpgid = m_hospital.FieldByName(QStringLiteral("HTPGID"));
    m_reggid = m_hospital.FieldByName(QStringLiteral("REGGID"));
}

void HospitalWriter::Write(const std::vector<TRow> &window, const QList<TColumn> &columns)
{
    if (columns.size() <= kCopied)
        throw ERplException(
            QStringLiteral("В запросе esvsHospital меньше %1 полей").arg(kCopied + 1));
    if (window.empty())
        return;
    if (m_center.RefusalAbortsTransaction() && writeAtOnce(window))
        return;
    writeRowByRow(window);
}

// False, with the window's work undone, when a row could not be written.
bool HospitalWriter::writeAtOnce(const std::vector<TRow> &window)
{
    const int position = m_report.Position;
    const int count = m_count;
    TTransaction savepoint(m_center);
    for (size_t i = 0; i < window.size(); ++i) {
        try {
            if (i == 0)
                keepCentralRows(window);
            prepareRow(window[i]);
            m_hospital.Post();
        } catch (...) {
            // The rows kept for the window are read again by the pass row by row.
            m_hospital.Cancel();
            savepoint.Rollback();
            m_report.Position = position;
            m_count = count;
            return false;
        }
        ++m_count;
        try {
            advance();
        } catch (...) {
            // A stop request: the rows written so far stay.
            savepoint.Commit();
            throw;
        }
    }
    savepoint.Commit();
    return true;
}

void HospitalWriter::writeRowByRow(const std::vector<TRow> &window)
{
    for (size_t i = 0; i < window.size(); ++i) {
        m_savepoints.Begin();
        try {
            // Read behind the first row's savepoint: a failing read leaves the rows before.
            if (i == 0)
                keepCentralRows(window);
            prepareRow(window[i]);
            postOrReport(window[i]);
        } catch (const ValueRefused &e) {
            refuse(window[i], e);
        } catch (...) {
            m_savepoints.Abandon();
            throw;
        }
        advance();
    }
}

void HospitalWriter::keepCentralRows(const std::vector<TRow> &window)
{
    QList<QVariantList> keys;
    keys.reserve(qsizetype(window.size()));
    for (const TRow &row : window)
        if (!engine::IsNullValue(row.at(0)))
            keys << QVariantList{row.at(0)};
    m_hospital.ForgetKeptRows();
    m_hospital.KeepRows(QStringLiteral("IDMU"), keys);
}

void HospitalWriter::prepareRow(const TRow &row)
{
    if (m_hospital.Locate(QStringLiteral("IDMU"), row.at(0)))
        m_hospital.Edit();
    else
        m_hospital.Append();
    try {
        for (int i = 0; i < kCopied; ++i)
            m_copied[size_t(i)]->SetAsVariant(row.at(i));
    } catch (const EDatabaseError &e) {
        // The fields of a row being edited fail only on a value they cannot hold.
        throw ValueRefused(e.Message());
    }
    const QString code = TImExternalToServer::RegionCodeOf(row.at(kCopied));
    m_reggid->SetAsVariant(code.isEmpty() ? QVariant() : m_regionByCode.value(code));
    const QVariant &idtmu = row.at(kIdtmu);
    m_htpgid->SetAsVariant(engine::IsNullValue(idtmu) ? QVariant()
                                                      : m_typeById.value(idtmu.toLongLong()));
}

void HospitalWriter::postOrReport(const TRow &row)
{
    try {
        m_hospital.Post();
        m_savepoints.Keep();
        ++m_count;
    } catch (const Exception &e) {
        // A busy database, a server gone or a stop refuses no hospital: the run ends.
        if (!m_center.IsRefusal(e.Message()) || m_report.Terminated())
            throw;
        refuse(row, e);
    }
}

void HospitalWriter::refuse(const TRow &row, const Exception &why)
{
    m_savepoints.RollBack();
    m_hospital.Cancel();
    const TRefusedHospital refused{row.at(0).toLongLong(), why.Message()};
    m_refused << refused;
    m_report.Log(StrConst::ErrorPrefix + refused.Message);
    m_report.Log(QStringLiteral("IDMU = ") + QString::number(refused.IDMU));
}

void HospitalWriter::advance()
{
    ++m_report.Position;
    m_report.UpdateGauge();
    m_report.CheckTerminated();
}

} // namespace

int CopyHospitals(TJobReport &report, TQuery &source, TDatabase &center,
                  QList<TRefusedHospital> &refused)
{
    esvs::KeepWrittenRows transaction(center);
    HospitalWriter writer(report, center, refused);
    QList<TColumn> columns;
    std::vector<TRow> window;
    window.reserve(kWindow);
    source.ScanRows(
        [&](const TRow &row) {
            window.push_back(row);
            if (window.size() == kWindow) {
                writer.Write(window, columns);
                window.clear();
            }
            return true;
        },
        &columns);
    writer.Write(window, columns);
    transaction.Commit();
    return writer.Count();
}
