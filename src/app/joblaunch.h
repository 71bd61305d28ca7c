#pragma once

class TAppInfo;
class TDatabase;

// The menu's jobs, each run in the progress window; true only when the job succeeded. center:
// the connection the user logged in with.

// "Синхронизация справочников с ЕСВС".
bool SyncExternalReferences(const TAppInfo &info, const TDatabase &center);
// "Импорт данных с рабочей станции": the package is chosen in the open dialog, a package
// imported before is imported again only when the user says so.
bool ImportWorkstationPackage(const TAppInfo &info, const TDatabase &center);
// "Проверить пакет...": the dry run of the import; the log tells what the import would do.
bool CheckWorkstationPackage(const TAppInfo &info, const TDatabase &center);
