#include "jobs/copyrecords.h"

#include "core/errors.h"
#include "engine/dataset.h"
#include "engine/table.h"
#include "jobs/jobreport.h"

namespace {

// The name of a dataset for messages: a table's name, otherwise the member name.
QString datasetTitle(const TDataSet &ds)
{
    if (const auto *table = dynamic_cast<const TTable *>(&ds);
        table && !table->TableName().isEmpty())
        return table->TableName();
    return ds.Name.isEmpty() ? QStringLiteral("копирования") : ds.Name;
}

// Source and destination field of every column a copy writes (see CopyRecords).
QList<std::pair<TField *, TField *>> copyPairs(const TDataSet &source, const TDataSet &dest,
                                               const QStringList &fields)
{
    QList<std::pair<TField *, TField *>> pairs;
    if (fields.isEmpty()) {
        for (int i = 0; i < dest.FieldCount(); ++i) {
            TField *target = dest.Fields(i);
            if (target->IsLookup())
                continue;
            if (i >= source.FieldCount())
                throw EDBEngineError(QStringLiteral("В источнике данных %1 нет поля с номером %2")
                                         .arg(datasetTitle(source))
                                         .arg(i + 1));
            pairs.append(std::make_pair(source.Fields(i), target));
        }
        return pairs;
    }
    for (const QString &raw : fields) {
        const QString name = raw.trimmed();
        TField *target = dest.FindField(name);
        if (!target)
            throw EDBEngineError(
                QStringLiteral("В таблице %1 нет поля %2").arg(datasetTitle(dest), name));
        TField *from = source.FindField(name);
        if (!from)
            throw EDBEngineError(QStringLiteral("В источнике данных %1 нет поля %2")
                                     .arg(datasetTitle(source), name));
        pairs.append(std::make_pair(from, target));
    }
    return pairs;
}

} // namespace

int CopyRecords(TJobReport &report, TDataSet &source, TDataSet &dest, const QString &keyFields,
                const QStringList &fields, const std::function<bool()> &findDest)
{
    TCloseOnExit close{&dest, &source};

    int result = 0;
    report.Position = 0;
    report.UpdateGauge();

    // The caller's filter applies only to sources that carry a LastUpdate column.
    const QString filter = source.Filter();
    source.SetFiltered(false);
    source.SetFilter(QString());
    source.Open();
    if (source.FindField(QStringLiteral("LastUpdate"))) {
        source.SetFilter(filter);
        source.SetFiltered(true);
    }

    source.First();
    dest.Open();
    report.Total = source.RecordCount();

    const QList<std::pair<TField *, TField *>> pairs = copyPairs(source, dest, fields);
    const QStringList keys =
        keyFields.isEmpty() ? QStringList() : keyFields.split(QLatin1Char(';'));
    QList<TField *> keySources;
    for (const QString &k : keys)
        keySources << source.FieldByName(k.trimmed());
    // What names a row in a message: its key as the caller spells it (a server may report the
    // source's column names in another case), or else its first column.
    QList<std::pair<QString, TField *>> rowNames;
    for (qsizetype i = 0; i < keys.size(); ++i)
        rowNames.append({keys.at(i).trimmed(), keySources.at(i)});
    if (rowNames.isEmpty() && source.FieldCount() > 0)
        rowNames.append({source.Fields(0)->FieldName(), source.Fields(0)});

    while (!source.Eof()) {
        try {
            bool found = false;
            if (findDest) {
                found = findDest();
            } else if (!keys.isEmpty()) {
                QVariantList values;
                values.reserve(keySources.size());
                for (const TField *k : keySources)
                    values << k->AsVariant();
                found = dest.Locate(keyFields, values, TLocateOption::loCaseInsensitive);
            }
            if (found)
                dest.Edit();
            else
                dest.Append();
            for (const auto &[from, to] : pairs)
                to->Assign(*from);
            dest.Post();
        } catch (const Exception &e) {
            QStringList named;
            for (const auto &[name, field] : rowNames)
                named << name + QLatin1Char('=') + field->AsString();
            RethrowWithRow(e, named.join(QLatin1String(", ")));
        }

        ++result;
        source.Next();
        ++report.Position;
        report.UpdateGauge();
        report.CheckTerminated();
    }
    source.Close();
    dest.Close();
    return result;
}
