#pragma once

#include <QString>

class TDatabase;

// The import running now on a central database, as the holder of the import lock describes it:
// "Идёт импорт: <who> на <host> (<program>, процесс <n>) с <time>, пакет <name>"; empty when
// none runs. Read on the connection's thread; the engine's error when it cannot be asked.
QString RunningImportLine(TDatabase &center);
