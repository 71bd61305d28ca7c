#pragma once

// A central table that refuses some rows, as a database with a constraint the package breaks
// would: a trigger raising an error for the rows that meet a condition on NEW.

#include "engine/database.h"
#include "engine/sqlscript.h"

#include <QString>

namespace refusal {

// Rows of `table` meeting `condition` (on NEW) are refused on `event` ("INSERT" or "UPDATE")
// with a message that contains "отказано".
inline void Refuse(TDatabase &db, const char *event, const QString &table,
                   const QString &condition = QStringLiteral("1 = 1"))
{
    const QString on = QString::fromLatin1(event);
    if (db.IsServer())
        engine::ExecuteScript(
            db, QStringLiteral(
                    "CREATE FUNCTION ZORU_TEST_REFUSE() RETURNS trigger LANGUAGE plpgsql AS $$\n"
                    "BEGIN IF %1 THEN RAISE EXCEPTION 'отказано'; END IF; RETURN NEW; END;\n$$;\n"
                    "CREATE TRIGGER TRG_TEST_REFUSE BEFORE %2 ON %3 FOR EACH ROW EXECUTE "
                    "FUNCTION ZORU_TEST_REFUSE();")
                    .arg(condition, on, table));
    else
        engine::ExecuteScript(db, QStringLiteral("CREATE TRIGGER TRG_TEST_REFUSE BEFORE %1 ON %2 "
                                                 "WHEN %3 BEGIN SELECT RAISE(ABORT, 'отказано'); "
                                                 "END;")
                                      .arg(on, table, condition));
}

// The refusal of Refuse is gone (the cause mended).
inline void Mend(TDatabase &db, const QString &table)
{
    engine::ExecuteScript(db, db.IsServer() ? QStringLiteral("DROP TRIGGER TRG_TEST_REFUSE ON %1; "
                                                             "DROP FUNCTION ZORU_TEST_REFUSE();")
                                                  .arg(table)
                                            : QStringLiteral("DROP TRIGGER TRG_TEST_REFUSE;"));
}

} // namespace refusal
