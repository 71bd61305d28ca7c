#pragma once

#include <QString>

// Folder names are held with exactly one trailing separator; an empty folder is the bare
// separator. The separator is the platform's ('\' on Windows, '/' elsewhere).
namespace paths {

QChar separator();

// Adds one trailing separator when missing ("" gives the bare separator).
QString includeTrailing(const QString &folder);

// Removes one trailing separator when present.
QString excludeTrailing(const QString &folder);

} // namespace paths
