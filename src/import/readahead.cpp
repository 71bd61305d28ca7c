#include "import/readahead.h"

#include "engine/dataset.h"
#include "engine/table.h"

#include <algorithm>

TReadAhead::TReadAhead(TTable &wst, TTable *locateIn, const QString &locateKeys) : m_wst(wst)
{
    m_reader = m_wst.OpenReader();
    const QList<TColumn> &columns = m_reader->Columns();
    auto stored = [&](const QString &names, QList<int> &positions) {
        positions.clear();
        for (const QString &name : names.split(QLatin1Char(';'))) {
            const int found = engine::ColumnIndex(columns, name.trimmed());
            if (found < 0)
                return false;
            positions << found;
        }
        return true;
    };
    for (const TLookupFieldDef &def : m_wst.LookupFields()) {
        Lookup l{&def, {}};
        if (def.LookupDataSet && def.LookupDataSet->CacheLookups && stored(def.KeyFields, l.keys))
            m_lookups.push_back(l);
    }
    if (!locateIn || !locateIn->CacheLookups || locateKeys.isEmpty())
        return;
    // A look-up by the locate's own key into the located table (the own-row column) is
    // answered by the rows the locate keeps.
    const auto names = [](const QString &list) {
        QStringList out;
        for (const QString &name : list.split(QLatin1Char(';')))
            out << name.trimmed().toUpper();
        return out;
    };
    const QStringList located = names(locateKeys);
    m_lookups.erase(std::remove_if(m_lookups.begin(), m_lookups.end(),
                                   [&](const Lookup &l) {
                                       return l.def->LookupDataSet == locateIn &&
                                              names(l.def->KeyFields) == located &&
                                              names(l.def->LookupKeyFields) == located;
                                   }),
                    m_lookups.end());
    // A part of the locate key is a stored column, or a look-up on stored columns.
    for (const QString &name : locateKeys.split(QLatin1Char(';'))) {
        Part part;
        QList<int> one;
        if (stored(name, one)) {
            part.column = one.first();
        } else {
            for (const Lookup &l : m_lookups)
                if (l.def->FieldName.compare(name, Qt::CaseInsensitive) == 0)
                    part.lookup = &l - m_lookups.data();
            if (part.lookup < 0)
                return;
        }
        m_locateParts.push_back(part);
    }
    m_locateIn = locateIn;
    m_locateKeys = locateKeys;
}

std::vector<engine::TRow> TReadAhead::readWindow(int from, int rows)
{
    std::vector<engine::TRow> window;
    try {
        if (from < m_next) {
            m_reader = m_wst.OpenReader();
            m_next = 0;
            m_started = false;
        }
        engine::TRow row;
        while (m_next < from + rows) {
            const bool more = m_started ? m_reader->Next(row) : m_reader->First(row);
            m_started = true;
            if (!more)
                break;
            if (m_next++ >= from)
                window.push_back(std::move(row));
        }
    } catch (...) {
        m_broken = true; // the walk reports it at that row
    }
    return window;
}

void TReadAhead::Window(int from, int rows)
{
    if (m_broken)
        return;
    const std::vector<engine::TRow> window = readWindow(from, rows);
    for (const Lookup &l : m_lookups)
        l.def->LookupDataSet->ForgetKeptRows();
    if (m_locateIn)
        m_locateIn->ForgetKeptRows();
    // Whole rows first where their keys are stored: they answer the look-ups by the same
    // keys as well.
    const bool locateFirst = std::all_of(m_locateParts.begin(), m_locateParts.end(),
                                         [](const Part &p) { return p.column >= 0; });
    if (locateFirst)
        keepLocated(window);
    for (const Lookup &l : m_lookups) {
        QList<QVariantList> keys;
        keys.reserve(qsizetype(window.size()));
        for (const engine::TRow &row : window)
            keys << pick(row, l.keys);
        l.def->LookupDataSet->KeepRows(l.def->LookupKeyFields, keys, l.def->LookupResultField);
    }
    if (!locateFirst)
        keepLocated(window);
}

QVariantList TReadAhead::pick(const engine::TRow &row, const QList<int> &positions)
{
    QVariantList values;
    for (int p : positions)
        values << row.value(p);
    return values;
}

void TReadAhead::keepLocated(const std::vector<engine::TRow> &window)
{
    if (!m_locateIn)
        return;
    QList<QVariantList> keys;
    for (const engine::TRow &row : window) {
        QVariantList key;
        for (const Part &part : m_locateParts) {
            if (part.column >= 0) {
                key << row.value(part.column);
                continue;
            }
            // Answered by the rows just kept.
            const Lookup &l = m_lookups.at(size_t(part.lookup));
            key << l.def->LookupDataSet->Lookup(l.def->LookupKeyFields, pick(row, l.keys),
                                                l.def->LookupResultField);
        }
        keys << key;
    }
    m_locateIn->KeepRows(m_locateKeys, keys);
}
