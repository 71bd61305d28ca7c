#pragma once

#include <QString>

// A folder that a piece of work makes for itself and that is removed with everything in it
// (links removed, not followed) when the object goes away, whatever happened to the work.
class TWorkFolder
{
public:
    // A uniquely named folder under parentFolder (the system's temporary folder when empty),
    // its name starting with `prefix`. Raises EFileError when it cannot be created.
    explicit TWorkFolder(const QString &parentFolder = {},
                         const QString &prefix = QStringLiteral("zoru"));
    // The folder `path` itself, made now. Raises ERplException "Невозможно создать папку" with
    // the path when it cannot be made (an existing one included).
    struct Named
    {
    };
    TWorkFolder(Named, const QString &path);
    ~TWorkFolder();
    TWorkFolder(const TWorkFolder &) = delete;
    TWorkFolder &operator=(const TWorkFolder &) = delete;

    // With a trailing separator, as folders are held in the program.
    QString Path() const;

private:
    QString m_path;
};
