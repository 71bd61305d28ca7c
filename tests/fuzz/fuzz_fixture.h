#pragma once

#include "engine/paradox/paradoxtable.h"

#include <QString>

// The keyed table against which the index fuzzer checks mutated .PX files: 5000 rows in 264
// data blocks, so that its index has two levels. The same rows always give the same files.
inline void writeIndexFixture(const QString &dbPath)
{
    using namespace paradox;
    Schema s;
    s.fields = {Field(QStringLiteral("K"), FieldType::Long),
                Field(QStringLiteral("Name"), FieldType::Alpha, 100)};
    s.keyFieldCount = 1;
    TableWriter w(dbPath, s);
    for (int i = 0; i < 5000; ++i)
        w.append({i * 3 + 1, QStringLiteral("Строка %1").arg(i)});
    w.finish();
}
