#pragma once

#include "engine/cursor.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <memory>
#include <vector>

class TTable;
struct TLookupFieldDef;

// Reads the package table ahead of the walk, a window at a time, and has the central tables
// keep the rows that the window's rows will look up, and locate by locateKeys in locateIn: a
// window then costs a few statements instead of a few for every row (worth it on a server,
// where every statement is a round trip). Rows the window writes keep what is kept true. A
// package row that cannot be read ends the reading ahead; the walk meets it in its turn.
class TReadAhead
{
public:
    TReadAhead(TTable &wst, TTable *locateIn, const QString &locateKeys);

    // Prepares the rows from..from+rows-1 (0-based, in the walk's order).
    void Window(int from, int rows);

private:
    static QVariantList pick(const engine::TRow &row, const QList<int> &positions);
    void keepLocated(const std::vector<engine::TRow> &window);
    // The rows from..from+rows-1 of the package table.
    std::vector<engine::TRow> readWindow(int from, int rows);

    struct Lookup
    {
        const TLookupFieldDef *def;
        QList<int> keys; // stored columns of the package table
    };
    struct Part
    {
        int column = -1;
        qsizetype lookup = -1;
    };
    TTable &m_wst;
    std::unique_ptr<engine::TCursor> m_reader;
    int m_next = 0; // the row the reader gives next
    bool m_started = false;
    bool m_broken = false;
    std::vector<Lookup> m_lookups;
    TTable *m_locateIn = nullptr;
    QString m_locateKeys;
    std::vector<Part> m_locateParts;
};
