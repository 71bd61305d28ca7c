#include "core/errors.h"

void RethrowWithRow(const Exception &e, const QString &row)
{
    const QString message = e.Message() + QStringLiteral(" (запись: %1)").arg(row);
    if (const auto *engine = dynamic_cast<const EDBEngineError *>(&e))
        throw EDBEngineError(message, engine->Sql());
    if (dynamic_cast<const EDatabaseError *>(&e))
        throw EDatabaseError(message);
    if (dynamic_cast<const ERplException *>(&e))
        throw ERplException(message);
    if (dynamic_cast<const EFileError *>(&e))
        throw EFileError(message);
    throw Exception(message);
}
