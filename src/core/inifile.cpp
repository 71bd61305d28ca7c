#include "core/inifile.h"

#include "core/cp1251.h"
#include "core/errors.h"

#include <QFile>
#include <QSaveFile>

namespace {

bool sectionHeader(const QString &line, QString *name)
{
    const QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    if (name)
        *name = t.mid(1, close - 1).trimmed();
    return true;
}

bool isComment(const QString &line)
{
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char(';'));
}

// Splits a key line; a line without '=' is a key without a value.
void splitKey(const QString &line, QString *key, QString *value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) {
        *key = line.trimmed();
        value->clear();
    } else {
        *key = line.left(eq).trimmed();
        *value = line.mid(eq + 1).trimmed();
    }
}

bool same(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Locates a section: index of its header line and one past its last line; header = -1 if absent.
struct SectionRange
{
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionRange findSection(const QStringList &lines, const QString &section)
{
    SectionRange r;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name;
        if (!sectionHeader(lines[i], &name))
            continue;
        if (r.header >= 0) {
            r.end = i;
            return r;
        }
        if (same(name, section))
            r.header = i;
    }
    if (r.header >= 0)
        r.end = lines.size();
    return r;
}

qsizetype findKey(const QStringList &lines, const SectionRange &r, const QString &key)
{
    if (r.header < 0)
        return -1;
    for (qsizetype i = r.header + 1; i < r.end; ++i) {
        if (isComment(lines[i]))
            continue;
        QString k, v;
        splitKey(lines[i], &k, &v);
        if (same(k, key))
            return i;
    }
    return -1;
}

} // namespace

TIniFile::TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

QStringList TIniFile::readLines() const
{
    QFile f(m_fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString text = cp1251::decode(f.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TIniFile::writeLines(const QStringList &lines)
{
    ReplaceFileLines(m_fileName, lines);
}

void ReplaceFileLines(const QString &fileName, const QStringList &lines)
{
    QString text;
    for (const QString &l : lines)
        text += l + QLatin1String("\r\n");
    const std::optional<QByteArray> bytes = cp1251::encodeStrict(text);
    if (!bytes)
        throw EFileError(QStringLiteral("Невозможно записать файл %1: текст содержит знаки вне "
                                        "кодировки 1251")
                             .arg(fileName));
    ReplaceFileContents(fileName, *bytes);
}

void ReplaceFileContents(const QString &fileName, const QByteArray &bytes)
{
    {
        QFile current(fileName);
        if (current.open(QIODevice::ReadOnly) && current.size() == bytes.size() &&
            current.readAll() == bytes)
            return;
    }
    // Unbuffered: a buffered short write (a full disk, a file size limit) can pass unnoticed
    // through the flush and be committed.
    QSaveFile f(fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || f.write(bytes) != bytes.size() ||
        !f.commit())
        throw EFileError(
            QStringLiteral("Невозможно записать файл %1: %2").arg(fileName, f.errorString()));
}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &def) const
{
    const QStringList lines = readLines();
    const qsizetype i = findKey(lines, findSection(lines, section), key);
    if (i < 0)
        return def;
    QString k, v;
    splitKey(lines[i], &k, &v);
    return v;
}

int TIniFile::ReadInteger(const QString &section, const QString &key, int def) const
{
    const QString s = ReadString(section, key, QString());
    if (s.isEmpty())
        return def;
    bool ok = false;
    int v = 0;
    if (s.startsWith(QLatin1Char('$')))
        v = s.mid(1).toInt(&ok, 16);
    else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = s.mid(2).toInt(&ok, 16);
    else
        v = s.toInt(&ok, 10);
    return ok ? v : def;
}

bool TIniFile::ReadBool(const QString &section, const QString &key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

QStringList TIniFile::ReadSection(const QString &section) const
{
    const QStringList lines = readLines();
    const SectionRange r = findSection(lines, section);
    QStringList keys;
    if (r.header < 0)
        return keys;
    for (qsizetype i = r.header + 1; i < r.end; ++i) {
        if (isComment(lines[i]))
            continue;
        QString k, v;
        splitKey(lines[i], &k, &v);
        if (!k.isEmpty())
            keys << k;
    }
    return keys;
}

QStringList TIniFile::ReadSections() const
{
    QStringList names;
    for (const QString &l : readLines()) {
        QString name;
        if (sectionHeader(l, &name))
            names << name;
    }
    return names;
}

bool TIniFile::SectionExists(const QString &section) const
{
    const QStringList lines = readLines();
    return findSection(lines, section).header >= 0;
}

bool TIniFile::ValueExists(const QString &section, const QString &key) const
{
    const QStringList lines = readLines();
    return findKey(lines, findSection(lines, section), key) >= 0;
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    QStringList lines = readLines();
    const SectionRange r = findSection(lines, section);
    const QString line = key + QLatin1Char('=') + value;
    if (r.header < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QString();
        lines << QLatin1Char('[') + section + QLatin1Char(']') << line;
    } else if (const qsizetype i = findKey(lines, r, key); i >= 0) {
        // The key keeps the spelling it has in the file.
        QString existing, old;
        splitKey(lines[i], &existing, &old);
        lines[i] = existing + QLatin1Char('=') + value;
    } else {
        // After the section's last non-blank line, so a blank separator line stays in place.
        qsizetype at = r.end;
        while (at > r.header + 1 && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, line);
    }
    writeLines(lines);
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString &section, const QString &key)
{
    QStringList lines = readLines();
    const qsizetype i = findKey(lines, findSection(lines, section), key);
    if (i < 0)
        return;
    lines.removeAt(i);
    writeLines(lines);
}

void TIniFile::EraseSection(const QString &section)
{
    QStringList lines = readLines();
    const SectionRange r = findSection(lines, section);
    if (r.header < 0)
        return;
    lines.remove(r.header, r.end - r.header);
    writeLines(lines);
}
