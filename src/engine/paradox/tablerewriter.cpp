// A table replaced whole: the new table is built completely under a temporary name in the same
// folder and takes the old one's place only when it is complete.

#include "core/errors.h"
#include "engine/paradox/paradoxtable.h"
#include "engine/paradox/writing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>

namespace paradox {

using namespace writing;

struct TableRewriter::Impl
{
    QString path;
    QString stage;
    QString stagedDb;
    std::optional<TableWriter> writer;
    bool committed = false;

    ~Impl()
    {
        writer.reset();
        if (!stage.isEmpty())
            QDir(stage).removeRecursively();
    }

    // The user knows the table by its own file, not by the staging one.
    [[noreturn]] void rethrowForTable(const EDBEngineError &e) const
    {
        QString message = e.Message();
        message.replace(QDir::toNativeSeparators(stagedDb), QDir::toNativeSeparators(path));
        throw EDBEngineError(message, e.Sql());
    }
};

TableRewriter::TableRewriter(const QString &path, const Schema &schema)
    : d(std::make_unique<Impl>())
{
    const QFileInfo info(path);
    d->path = path;
    // The new table is built completely under a temporary name in the same folder.
    d->stage = uniqueSibling(info.absolutePath(), info.completeBaseName(), QStringLiteral("new"));
    QDir().mkpath(d->stage);
    d->stagedDb = QDir(d->stage).filePath(info.fileName());
    try {
        d->writer.emplace(d->stagedDb, schema);
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
}

TableRewriter::~TableRewriter() = default;

void TableRewriter::append(const Row &row)
{
    try {
        d->writer->append(row);
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
}

bool TableRewriter::appendUnique(const Row &row)
{
    try {
        return d->writer->appendUnique(row);
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
}

qint64 TableRewriter::rowCount() const
{
    return d->writer->rowCount();
}

void TableRewriter::commit()
{
    if (d->committed)
        failWrite(d->path, QStringLiteral("таблица уже записана"));
    try {
        d->writer->finish();
    } catch (const EDBEngineError &e) {
        d->rethrowForTable(e);
    }
    d->committed = true;
    const QString &path = d->path;
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QString base = info.completeBaseName();
    const QString stagedPx = primaryIndexPath(d->stagedDb);
    const bool newKeyed = QFileInfo::exists(stagedPx);

    const QString oldPx = primaryIndexPath(path);
    const bool hadDb = QFileInfo::exists(path);
    const bool hadPx = QFileInfo::exists(oldPx);
    const QString backupDb = uniqueSibling(dir, base, QStringLiteral("olddb"));
    const QString backupPx = uniqueSibling(dir, base, QStringLiteral("oldpx"));
    if (hadDb && !QFile::rename(path, backupDb))
        failWrite(path, QStringLiteral("файл таблицы занят или недоступен"));
    if (hadPx && !QFile::rename(oldPx, backupPx)) {
        if (hadDb)
            QFile::rename(backupDb, path);
        failWrite(path, QStringLiteral("файл индекса занят или недоступен"));
    }
    const QString newPx = primaryIndexPath(path);
    const bool placed =
        (!newKeyed || QFile::rename(stagedPx, newPx)) && QFile::rename(d->stagedDb, path);
    if (!placed) {
        QFile::remove(newPx);
        if (hadDb)
            QFile::rename(backupDb, path);
        if (hadPx)
            QFile::rename(backupPx, oldPx);
        failWrite(path, QStringLiteral("не удаётся заменить файлы таблицы"));
    }
    QFile::remove(backupDb);
    QFile::remove(backupPx);
    removeCompanions(dir, base);
}

void rewriteTable(const QString &path, const Schema &schema, const std::vector<Row> &rows)
{
    TableRewriter rewriter(path, schema);
    for (const Row &row : rows)
        rewriter.append(row);
    rewriter.commit();
}

} // namespace paradox
