#pragma once

// The tables of a folder database are files of its folder: a table's name is its file's name
// ("City.DB"; without extension ".DB" is added), matched without regard to case.

#include <QHash>
#include <QString>

namespace engine {

// File of a table in a folder (folder ends with a separator): the name as given, or the file in
// the folder whose name differs only in case. Throws EDBEngineError for names that would leave
// the folder, and "Таблица не найдена" when mustExist and there is no such file.
QString FolderTablePath(const QString &folder, const QString &tableName, bool mustExist);

// Throws EDBEngineError "Недопустимое имя таблицы" for a name that would leave the folder.
void CheckTableName(const QString &name);

// Files of the folder by lower-case name.
QHash<QString, QString> FolderFiles(const QString &folder);

} // namespace engine
