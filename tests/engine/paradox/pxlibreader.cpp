#include "pxlibreader.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

// pxlib's header has no C++ linkage block of its own.
extern "C" {
#include <paradox.h>
}

namespace pxoracle {

namespace {

constexpr qint64 kJulianDayOfDay0 = 1721425;

void errorHandler(pxdoc_t *, int, const char *msg, void *data)
{
    auto *error = static_cast<QString *>(data);
    if (error->isEmpty())
        *error = QString::fromLocal8Bit(msg);
}

// Owns one pxlib document.
struct Doc
{
    explicit Doc(QString *error) : doc(PX_new3(errorHandler, nullptr, nullptr, nullptr, error)) {}
    pxdoc_t *doc;
    bool opened = false;
    ~Doc()
    {
        if (doc) {
            if (opened)
                PX_close(doc);
            PX_delete(doc);
        }
    }
};

QVariant convert(const pxfield_t &field, const pxval_t &val)
{
    if (val.isnull)
        return {};
    switch (field.px_ftype) {
    case pxfAlpha:
        if (!val.value.str.val)
            return {};
        return QString::fromUtf8(val.value.str.val, val.value.str.len).section(QChar(0), 0, 0);
    // pxlib reads an all-zero (Null) integer as the type's minimum: that value cannot be stored,
    // so it is taken back as Null here.
    case pxfShort:
        if (val.value.lval == -32768)
            return {};
        return static_cast<int>(val.value.lval);
    case pxfLong:
    case pxfAutoInc:
        if (val.value.lval == std::numeric_limits<int>::min())
            return {};
        return static_cast<int>(val.value.lval);
    case pxfDate:
        if (val.value.lval == std::numeric_limits<int>::min())
            return {};
        return QDate::fromJulianDay(kJulianDayOfDay0 + val.value.lval);
    case pxfTime:
        if (val.value.lval == std::numeric_limits<int>::min())
            return {};
        return QTime::fromMSecsSinceStartOfDay(static_cast<int>(val.value.lval));
    case pxfLogical:
        return val.value.lval != 0;
    case pxfNumber:
    case pxfCurrency:
        return val.value.dval;
    case pxfTimestamp: {
        // A Null timestamp comes back from pxlib as 0 (day 0, which no real timestamp has).
        if (!std::isfinite(val.value.dval) || val.value.dval == 0)
            return {};
        const auto ms = static_cast<qint64>(std::llround(val.value.dval));
        qint64 days = ms / 86400000;
        qint64 rest = ms % 86400000;
        if (rest < 0) {
            rest += 86400000;
            --days;
        }
        return QDateTime(QDate::fromJulianDay(kJulianDayOfDay0 + days),
                         QTime::fromMSecsSinceStartOfDay(static_cast<int>(rest)));
    }
    case pxfBCD:
        // A Null BCD comes back as digits of '?'.
        if (!val.value.str.val || std::strchr(val.value.str.val, '?'))
            return {};
        return QString::fromLatin1(val.value.str.val).toDouble();
    case pxfBytes:
        return val.value.str.val ? QByteArray(val.value.str.val, val.value.str.len) : QVariant();
    default:
        return {};
    }
}

} // namespace

bool samePxValue(const QVariant &ours, const QVariant &pxlib)
{
    if (!ours.isValid() && pxlib.metaType().id() == QMetaType::Double)
        return pxlib.toDouble() == 0.0;
    return false;
}

Table read(const QString &path, const QString &indexPath, bool usePrimaryIndex)
{
    Table t;
    Doc db(&t.error);
    if (PX_open_file(db.doc, path.toLocal8Bit().constData()) < 0) {
        if (t.error.isEmpty())
            t.error = QStringLiteral("PX_open_file failed");
        return t;
    }
    db.opened = true;
    PX_set_targetencoding(db.doc, "UTF-8");

    Doc index(&t.error);
    if (usePrimaryIndex) {
        if (PX_open_file(index.doc, indexPath.toLocal8Bit().constData()) < 0) {
            t.error = QStringLiteral("index: ") + t.error;
            return t;
        }
        index.opened = true;
        if (PX_read_primary_index(index.doc) < 0 || PX_add_primary_index(db.doc, index.doc) < 0) {
            t.error = QStringLiteral("index: ") + t.error;
            return t;
        }
        // The data document owns the index now.
        index.doc = nullptr;
    }

    const int n = PX_get_num_fields(db.doc);
    pxfield_t *fields = PX_get_fields(db.doc);
    for (int i = 0; i < n; ++i) {
        t.fieldNames.push_back(QString::fromLatin1(fields[i].px_fname));
        t.fieldTypes.push_back(static_cast<unsigned char>(fields[i].px_ftype));
    }
    t.keyFields = db.doc->px_head->px_primarykeyfields;
    t.recordCount = PX_get_num_records(db.doc);
    for (int r = 0; r < t.recordCount; ++r) {
        pxval_t **vals = PX_retrieve_record(db.doc, r);
        if (!vals) {
            t.error = QStringLiteral("record %1: %2").arg(r).arg(t.error);
            return t;
        }
        std::vector<QVariant> row;
        for (int i = 0; i < n; ++i) {
            row.push_back(convert(fields[i], *vals[i]));
            if ((fields[i].px_ftype == pxfAlpha || fields[i].px_ftype == pxfBCD ||
                 fields[i].px_ftype == pxfBytes || fields[i].px_ftype == pxfMemoBLOb ||
                 fields[i].px_ftype == pxfBLOb || fields[i].px_ftype == pxfFmtMemoBLOb ||
                 fields[i].px_ftype == pxfGraphic || fields[i].px_ftype == pxfOLE) &&
                vals[i]->value.str.val)
                db.doc->free(db.doc, vals[i]->value.str.val);
            db.doc->free(db.doc, vals[i]);
        }
        db.doc->free(db.doc, vals);
        t.rows.push_back(std::move(row));
    }
    t.ok = true;
    return t;
}

} // namespace pxoracle
