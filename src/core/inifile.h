#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// An ini file in the platform's conventions: "[Section]" headers and "key=value" lines, section
// and key names compared without regard to case, text in code page 1251. Nothing is cached:
// every read looks at the file as it is now, every write rewrites the file at once, keeping the
// other sections, keys, their order and unrelated lines. A missing file reads as an empty one.
class TIniFile
{
public:
    explicit TIniFile(QString fileName);
    virtual ~TIniFile() = default;

    const QString &FileName() const { return m_fileName; }

    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // Decimal (or "0x"/"$" hexadecimal) integer; anything else gives the default.
    int ReadInteger(const QString &section, const QString &key, int def) const;
    // Read as an integer; non-zero is true.
    bool ReadBool(const QString &section, const QString &key, bool def) const;
    // Key names of a section in file order; a missing section gives an empty list.
    QStringList ReadSection(const QString &section) const;
    QStringList ReadSections() const;
    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &key) const;

    // Throws EFileError when the file cannot be written.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);
    void DeleteKey(const QString &section, const QString &key);
    void EraseSection(const QString &section);

private:
    QStringList readLines() const;
    void writeLines(const QStringList &lines);

    QString m_fileName;
};

// Gives a file exactly these bytes: written to a temporary file in the same folder and put in
// place in one step, so that a failure at any point leaves the old file whole. A file that
// already holds these bytes is not touched. Throws EFileError.
void ReplaceFileContents(const QString &fileName, const QByteArray &bytes);

// Gives a file these lines of text, each ended by CR LF, in code page 1251, through
// ReplaceFileContents. Throws EFileError, also for a character that code page cannot hold.
void ReplaceFileLines(const QString &fileName, const QStringList &lines);
