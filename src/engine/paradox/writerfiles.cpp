// The files the Paradox writer makes: temporary files in the table's folder, moved to their names
// once complete, and what an earlier table of the same name left beside it.

#include "core/cp1251.h"
#include "core/errors.h"
#include "engine/paradox/writing.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace paradox::writing {

using namespace format;

void failSchema(const QString &path, const QString &problem)
{
    throw EDBEngineError(QStringLiteral("Недопустимое описание таблицы %1: %2")
                             .arg(QDir::toNativeSeparators(path), problem));
}

void failWrite(const QString &path, const QString &problem)
{
    throw EDBEngineError(QStringLiteral("Не удаётся записать таблицу %1: %2")
                             .arg(QDir::toNativeSeparators(path), problem));
}

TempFile::TempFile(const QString &dir, const QString &base, const QString &tag)
{
    for (int attempt = 0; attempt < 100 && m_path.isEmpty(); ++attempt) {
        const QString candidate = QDir(dir).filePath(
            QStringLiteral(".%1.%2-%3.tmp")
                .arg(base, tag)
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        m_file.setFileName(candidate);
        // Unbuffered: a buffered short write can pass unnoticed through the flush.
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            m_path = candidate;
    }
    if (m_path.isEmpty())
        failWrite(QDir(dir).filePath(base), m_file.errorString());
}

TempFile::~TempFile()
{
    m_file.close();
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

void TempFile::write(const QString &table, const char *data, qint64 size)
{
    if (m_file.write(data, size) != size)
        failWrite(table, m_file.errorString());
}

void TempFile::close(const QString &table)
{
    if (!m_file.flush())
        failWrite(table, m_file.errorString());
    m_file.close();
}

bool TempFile::moveTo(const QString &target)
{
    if (!QFile::rename(m_path, target))
        return false;
    m_path.clear();
    return true;
}

QByteArray tableNameBytes(const QString &path)
{
    QByteArray name = cp1251::encode(QFileInfo(path).fileName());
    name.replace('\0', '_');
    return name.left(kTableNameLength7 - 1);
}

void removeCompanions(const QString &dir, const QString &base)
{
    static const QRegularExpression companion(
        QStringLiteral("^(X[0-9A-F]{2}|Y[0-9A-F]{2}|XG[0-9A-F]|YG[0-9A-F]|VAL)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &fi : entries) {
        if (fi.completeBaseName().compare(base, Qt::CaseInsensitive) == 0 &&
            companion.match(fi.suffix()).hasMatch())
            QFile::remove(fi.absoluteFilePath());
    }
}

QString uniqueSibling(const QString &dir, const QString &base, const QString &tag)
{
    for (;;) {
        const QString candidate = QDir(dir).filePath(
            QStringLiteral(".%1.%2-%3.tmp")
                .arg(base, tag)
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

} // namespace paradox::writing
