#include "installation.h"

#include "core/aliases.h"
#include "core/inifile.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "demogen.h"
#include "engine/database.h"
#include "schema/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace demo {

namespace {

QString folderPath(const QString &base, const QString &sub)
{
    return paths::includeTrailing(QDir::cleanPath(QDir(base).absoluteFilePath(sub)));
}

QString centralFile(const QString &folder)
{
    return QDir(folder).absoluteFilePath(QStringLiteral("data/central.db"));
}

QString esvsFile(const QString &folder)
{
    return QDir(folder).absoluteFilePath(QStringLiteral("data/esvs.db"));
}

void makeFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        throw EFileError(QStringLiteral("Невозможно создать папку %1").arg(path));
}

// A database file being written; removed unless the run got as far as putting it in place.
class PendingFile
{
public:
    explicit PendingFile(QString finalPath)
        : m_final(std::move(finalPath)), m_path(m_final + QStringLiteral(".new"))
    {
        QFile::remove(m_path);
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly))
            throw EFileError(
                QStringLiteral("Невозможно создать файл %1: %2").arg(m_path, file.errorString()));
    }
    ~PendingFile()
    {
        if (!m_done)
            RemoveSqliteFile(m_path);
    }
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    const QString &Path() const { return m_path; }

    void PutInPlace()
    {
        if (!RemoveSqliteFile(m_final))
            throw EFileError(QStringLiteral("Невозможно удалить файл %1").arg(m_final));
        if (!QFile::rename(m_path, m_final))
            throw EFileError(
                QStringLiteral("Невозможно переименовать файл %1 в %2").arg(m_path, m_final));
        m_done = true;
    }

private:
    QString m_final;
    QString m_path;
    bool m_done = false;
};

// Rolls back unless committed.
class Transaction
{
public:
    explicit Transaction(TDatabase &db) : m_db(db) { m_db.StartTransaction(); }
    ~Transaction()
    {
        if (m_db.InTransaction()) {
            try {
                m_db.Rollback();
            } catch (...) {
                // The connection is closed right after; the server drops the transaction then.
            }
        }
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void Commit() { m_db.Commit(); }

private:
    TDatabase &m_db;
};

QSqlQuery run(TDatabase &db, const QString &sql)
{
    QSqlQuery q(db.Sql());
    if (!q.exec(sql))
        throw EDBEngineError(engineMessage(q.lastError()), sql);
    return q;
}

// Whether tables of the kind are in the database already (a few of its tables tell).
bool pgHasTables(TDatabase &db, SchemaKind kind)
{
    const QString names = kind == SchemaKind::Central ? QStringLiteral("'workstation', 'hospital'")
                                                      : QStringLiteral("'adres', 'tmu', 'mu'");
    QSqlQuery q = run(db, QStringLiteral("SELECT COUNT(*) FROM information_schema.tables "
                                         "WHERE table_schema = current_schema() "
                                         "AND lower(table_name) IN (") +
                              names + QLatin1Char(')'));
    return q.next() && q.value(0).toInt() > 0;
}

// Drops what the creation script makes, by the names the script itself gives.
void pgDrop(TDatabase &db, SchemaKind kind)
{
    const QString script = SchemaScript(kind, QStringLiteral("POSTGRESQL"));
    const struct
    {
        const char *pattern;
        const char *drop;
    } kinds[] = {
        {R"(CREATE\s+TABLE\s+(\w+))", "DROP TABLE IF EXISTS %1 CASCADE"},
        {R"(CREATE\s+SEQUENCE\s+(\w+))", "DROP SEQUENCE IF EXISTS %1 CASCADE"},
        {R"(CREATE\s+(?:OR\s+REPLACE\s+)?FUNCTION\s+(\w+)\s*\()",
         "DROP FUNCTION IF EXISTS %1() CASCADE"},
    };
    for (const auto &kind : kinds) {
        const QRegularExpression re(QLatin1String(kind.pattern),
                                    QRegularExpression::CaseInsensitiveOption);
        for (const QRegularExpressionMatch &m : re.globalMatch(script))
            run(db, QLatin1String(kind.drop).arg(m.captured(1)));
    }
}

void fill(TDatabase &db, SchemaKind kind, const std::deque<TableRows> &tables, bool dropFirst)
{
    Transaction transaction(db);
    if (dropFirst)
        pgDrop(db, kind);
    CreateSchema(db, kind);
    WriteTables(db, tables);
    transaction.Commit();
}

// Writes one SQLite database through a run-only alias and puts the file in place only when
// every row is in.
void makeSqlite(PendingFile &file, SchemaKind kind, const std::deque<TableRows> &tables)
{
    TAliasStore aliases;
    aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    const QString alias = QStringLiteral("ZORU_DEMO_NEW");
    aliases.AddAlias(alias, QStringLiteral("SQLITE"),
                     {QStringLiteral("DATABASE NAME=") + file.Path()});
    TDatabase db(kind == SchemaKind::Central ? StrConst::CenterDatabaseName
                                             : QStringLiteral("ESVS"),
                 &aliases);
    db.AliasName = alias;
    db.LoginPrompt = false;
    db.Open();
    fill(db, kind, tables, false);
    db.Close();
}

std::vector<std::pair<QString, int>> counts(const std::deque<TableRows> &tables)
{
    std::vector<std::pair<QString, int>> out;
    for (const TableRows &t : tables)
        out.emplace_back(t.name, int(t.rows.size()));
    return out;
}

// The ЕСВС database of a server installation: a database of its own beside the central one,
// created when missing.
PgTarget pgEsvsTarget(const PgTarget &central)
{
    PgTarget esvs = central;
    esvs.database = central.database + QStringLiteral("_esvs");
    return esvs;
}

void pgCreateDatabase(TDatabase &server, const QString &name)
{
    QSqlQuery q(server.Sql());
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM pg_database WHERE datname = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        throw EDBEngineError(engineMessage(q.lastError()));
    if (q.value(0).toInt() == 0)
        run(server, QStringLiteral("CREATE DATABASE \"%1\"")
                        .arg(QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\""))));
}

QString pgTargetText(const PgTarget &pg)
{
    return QStringLiteral("%1:%2/%3").arg(pg.host).arg(pg.port).arg(pg.database);
}

QStringList pgParams(const PgTarget &pg)
{
    return {QStringLiteral("SERVER NAME=") + pg.host,
            QStringLiteral("PORT=") + QString::number(pg.port),
            QStringLiteral("DATABASE NAME=") + pg.database};
}

// Opens a database of the server under a run-time alias. Tables of the kind found there refuse
// the installation without force; with it, drop tells that they go first.
std::unique_ptr<TDatabase> pgOpen(TAliasStore &aliases, const QString &alias, const QString &name,
                                  const PgTarget &target, SchemaKind kind, bool force, bool &drop)
{
    aliases.AddAlias(alias, QStringLiteral("POSTGRESQL"), pgParams(target));
    auto db = std::make_unique<TDatabase>(name, &aliases);
    db->AliasName = alias;
    db->LoginPrompt = false;
    db->Params << QStringLiteral("USER NAME=") + target.user
               << QStringLiteral("PASSWORD=") + target.password;
    db->Open();
    drop = pgHasTables(*db, kind);
    if (drop && !force)
        throw EInstallationExists(
            QStringLiteral("В базе данных %1 на сервере %2:%3 уже есть %4. Для перезаписи "
                           "укажите --force")
                .arg(target.database, target.host, QString::number(target.port),
                     kind == SchemaKind::Central ? QStringLiteral("центральные таблицы")
                                                 : QStringLiteral("таблицы ЕСВС")));
    return db;
}

void setAlias(TAliasStore &store, const QString &name, const QString &driver,
              const QStringList &params)
{
    if (store.IsAlias(name))
        store.DeleteAlias(name);
    store.AddAlias(name, driver, params);
}

void setFolderAlias(TAliasStore &store, const QString &name, const QString &path,
                    const QString &driver)
{
    if (store.IsAlias(name))
        store.DeleteAlias(name);
    store.AddStandardAlias(name, path, driver);
}

} // namespace

QStringList ReplicatedTables()
{
    return {QStringLiteral("WORKSTATION"), QStringLiteral("BRIGADE"),
            QStringLiteral("BRIGHSP"),     QStringLiteral("HOSPITAL"),
            QStringLiteral("HOSPTYPE"),    QStringLiteral("REGION"),
            QStringLiteral("DIAGNOSIS"),   QStringLiteral("DOCTYPE"),
            QStringLiteral("MEDPREPARAT"), QStringLiteral("MEDPREPGROUP")};
}

bool ParsePgTarget(const QString &text, PgTarget &target)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3 || parts[0].isEmpty() || parts[2].isEmpty())
        return false;
    bool ok = false;
    const int port = parts[1].toInt(&ok);
    if (!ok || port <= 0 || port > 65535)
        return false;
    target.host = parts[0];
    target.port = port;
    target.database = parts[2];
    return true;
}

QString ExistingInstallation(const QString &folder)
{
    const QDir dir(folder);
    const TIniFile ini(dir.absoluteFilePath(IniFileName));
    if (!ini.ReadString(StrConst::SettingsSection, StrConst::SrvDBKey, QString()).isEmpty())
        return QStringLiteral("в файле %1 задан ключ %2").arg(ini.FileName(), StrConst::SrvDBKey);
    for (const QString &file : {centralFile(folder), esvsFile(folder)})
        if (QFileInfo::exists(file))
            return QStringLiteral("есть файл %1").arg(file);
    const TAliasStore aliases(dir.absoluteFilePath(StrConst::AliasFileName));
    for (const QString &alias : {CenterAlias, EsvsAlias})
        if (aliases.IsAlias(alias))
            return QStringLiteral("в файле %1 есть псевдоним %2")
                .arg(dir.absoluteFilePath(StrConst::AliasFileName), alias);
    return {};
}

Summary CreateInstallation(const Options &options)
{
    if (options.folder.isEmpty())
        throw Exception(QStringLiteral("Не указана папка программы"));
    if (!(options.scale > 0) || options.scale > 1000)
        throw Exception(
            QStringLiteral("Масштаб должен быть больше 0 и не больше 1000: %1").arg(options.scale));
    const QString folder = QDir::cleanPath(QDir(options.folder).absolutePath());
    if (QFileInfo::exists(folder) && !QFileInfo(folder).isDir())
        throw EFileError(QStringLiteral("%1 не является папкой").arg(folder));

    const QString existing = QFileInfo::exists(folder) ? ExistingInstallation(folder) : QString();
    if (!existing.isEmpty() && !options.force)
        throw EInstallationExists(
            QStringLiteral(
                "Установка уже существует в папке %1: %2. Для перезаписи укажите --force")
                .arg(folder, existing));

    // The server database is checked before anything is written to the folder.
    TAliasStore runAliases;
    runAliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    std::unique_ptr<TDatabase> pg;
    std::unique_ptr<TDatabase> pgEsvs;
    bool pgDrop = false;
    bool pgEsvsDrop = false;
    if (options.postgres) {
        const PgTarget &target = *options.postgres;
        pg = pgOpen(runAliases, QStringLiteral("ZORU_DEMO_PG"), StrConst::CenterDatabaseName,
                    target, SchemaKind::Central, options.force, pgDrop);
        const PgTarget esvsTarget = pgEsvsTarget(target);
        pgCreateDatabase(*pg, esvsTarget.database);
        pgEsvs = pgOpen(runAliases, QStringLiteral("ZORU_DEMO_PG_ESVS"), QStringLiteral("ESVS"),
                        esvsTarget, SchemaKind::Esvs, options.force, pgEsvsDrop);
    }

    const QString data = folderPath(folder, QStringLiteral("data"));
    const QString mainDir = folderPath(folder, QStringLiteral("data/main"));
    const QString polyDir = folderPath(folder, QStringLiteral("data/poly"));
    const QString importDir = folderPath(folder, QStringLiteral("import"));
    const QString exportDir = folderPath(folder, QStringLiteral("export"));
    for (const QString &dir : {data, mainDir, polyDir, importDir, exportDir})
        makeFolder(dir);

    const DemoData rows = BuildDemoData(options.scale, options.seed);

    Summary summary;
    summary.folder = folder;
    std::optional<PendingFile> esvs;
    if (pgEsvs) {
        fill(*pgEsvs, SchemaKind::Esvs, rows.esvs, pgEsvsDrop);
        pgEsvs->Close();
        summary.esvsTarget = pgTargetText(pgEsvsTarget(*options.postgres));
    } else {
        esvs.emplace(esvsFile(folder));
        makeSqlite(*esvs, SchemaKind::Esvs, rows.esvs);
    }
    std::optional<PendingFile> central;
    if (pg) {
        fill(*pg, SchemaKind::Central, rows.central, pgDrop);
        pg->Close();
        summary.centralTarget = pgTargetText(*options.postgres);
        // Files left from an earlier SQLite installation would only mislead.
        for (const QString &file : {centralFile(folder), esvsFile(folder)})
            if (!RemoveSqliteFile(file))
                throw EFileError(QStringLiteral("Невозможно удалить файл %1").arg(file));
    } else {
        central.emplace(centralFile(folder));
        makeSqlite(*central, SchemaKind::Central, rows.central);
        central->PutInPlace();
        summary.centralTarget = centralFile(folder);
    }
    if (esvs) {
        esvs->PutInPlace();
        summary.esvsTarget = esvsFile(folder);
    }

    // Aliases: the ones this installation needs replace any of the same name; others stay.
    // Files and folders inside the installation are named relative to it, so that it can be
    // moved as a whole.
    const QDir site(folder);
    const auto inside = [&site](const QString &path) { return site.relativeFilePath(path); };
    TAliasStore aliases(site.absoluteFilePath(StrConst::AliasFileName));
    aliases.SetConfigMode(TAliasStore::ConfigMode::Persistent);
    if (options.postgres)
        setAlias(aliases, CenterAlias, QStringLiteral("POSTGRESQL"), pgParams(*options.postgres));
    else
        setAlias(aliases, CenterAlias, QStringLiteral("SQLITE"),
                 {QStringLiteral("DATABASE NAME=") + inside(centralFile(folder))});
    if (options.postgres)
        setAlias(aliases, EsvsAlias, QStringLiteral("POSTGRESQL"),
                 pgParams(pgEsvsTarget(*options.postgres)));
    else
        setAlias(aliases, EsvsAlias, QStringLiteral("SQLITE"),
                 {QStringLiteral("DATABASE NAME=") + inside(esvsFile(folder))});
    setFolderAlias(aliases, StrConst::MainAliasName, paths::includeTrailing(inside(mainDir)),
                   QStringLiteral("PARADOX"));
    setFolderAlias(aliases, StrConst::PolyAliasName, paths::includeTrailing(inside(polyDir)),
                   QStringLiteral("DBASE"));
    aliases.SaveConfigFile();

    // The configuration file: the keys of this installation; window placement, if any, stays.
    TIniFile ini(QDir(folder).absoluteFilePath(IniFileName));
    const QString &s = StrConst::SettingsSection;
    ini.WriteInteger(s, StrConst::IsServerKey, 1);
    ini.WriteString(s, StrConst::SrvDBKey, CenterAlias);
    ini.WriteString(s, StrConst::ESVSDBKey, EsvsAlias);
    ini.WriteString(s, StrConst::UserNameKey, options.postgres ? options.postgres->user : DemoUser);
    // On a server the ЕСВС database belongs to the same account as the central one.
    ini.WriteString(s, StrConst::UserNameESVSKey,
                    options.postgres ? options.postgres->user : EsvsUser);
    ini.WriteString(s, StrConst::ImportKey, paths::includeTrailing(inside(importDir)));
    ini.WriteString(s, StrConst::ExportKey, paths::includeTrailing(inside(exportDir)));
    ini.EraseSection(StrConst::SrvToWstSection);
    for (const QString &table : ReplicatedTables())
        ini.WriteString(StrConst::SrvToWstSection, table, QString());

    summary.centralCounts = counts(rows.central);
    summary.esvsCounts = counts(rows.esvs);
    summary.hospitalWst = rows.hospitalWst;
    summary.hospitalWstName = rows.hospitalWstName;
    summary.brigadeWst = rows.brigadeWst;
    summary.brigadeWstName = rows.brigadeWstName;
    summary.bothWst = rows.bothWst;
    return summary;
}

} // namespace demo
