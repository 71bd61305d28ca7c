// libFuzzer target: a workstation package from the field is untrusted. Mutated archives go
// through the archiver's extraction, mutated tables into an otherwise sound unpacked package,
// and the result through the whole merge into a scratch copy of a demo central database (SQLite).
// Any outcome but a crash, a hang or a write outside the work folder is fine: a clean import or
// an error with a message.
#include "arcerror.h"
#include "commands.h"
#include "core/appinfo.h"
#include "core/errors.h"
#include "core/inifile.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "import/importjob.h"
#include "import_fixture.h"
#include "jobs/jobprogress.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace {

class SilentProgress : public TJobProgress
{
public:
    void SetCaption(const QString &) override {}
    void ClearMessages() override {}
    void AddMessage(const QString &) override {}
    void SetGauge(int) override {}
};

struct World
{
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTemporaryDir> root;
    ImportFixture fixture;
    QString program;   // the installation the import runs in
    QString importDir; // its import folder
    QString central;   // its central database, a fresh copy for every input
    QString work;      // the work folder of every input
    std::unique_ptr<TAliasStore> aliases;
    std::unique_ptr<TAppInfo> info;
    std::unique_ptr<TDatabase> center;
    std::map<QString, QByteArray> outside; // every file outside the work folder, with its hash
};

World *g = nullptr;

QByteArray hashOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<unreadable>");
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

// Files and folders under the root that an import may not touch: all but the work folder, the
// package written for the input, the central database (and its journal and lock files) and the
// log.
std::map<QString, QByteArray> outsideWork()
{
    std::map<QString, QByteArray> out;
    QDirIterator it(g->root->path(),
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == g->work || path.startsWith(g->work + QLatin1Char('/')) ||
            path.startsWith(g->central) || path == g->importDir + QStringLiteral("/p.w2s") ||
            path == g->program + QStringLiteral("/log.txt"))
            continue;
        // Size and time of change tell a write; the canary is also compared by content.
        const QFileInfo fi(path);
        if (fi.isDir() && !fi.isSymLink()) {
            out[path] = QByteArrayLiteral("<folder>"); // its time changes as entries come and go
            continue;
        }
        out[path] = QByteArray::number(fi.size()) + ':' +
                    QByteArray::number(fi.lastModified().toMSecsSinceEpoch()) +
                    (fi.fileName() == QLatin1String("canary.txt") ? hashOf(path) : QByteArray());
    }
    return out;
}

void copyTables(const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &fi : QDir(g->fixture.tables).entryInfoList(QDir::Files))
        QFile::copy(fi.filePath(), to + QLatin1Char('/') + fi.fileName());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    g = new World; // lives for the whole process, like libFuzzer itself
    g->app = std::make_unique<QCoreApplication>(*argc, *argv);
    // In memory where the system has such a folder: SQLite syncs every commit to disk, which
    // would make a run take seconds.
    g->root = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                  ? std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/zoru-fuzz-XXXXXX"))
                  : std::make_unique<QTemporaryDir>();
    const QString root = g->root->path();
    try {
        g->fixture = makeImportFixture(root, QCoreApplication::applicationDirPath());
    } catch (const Exception &e) {
        qFatal("fixture: %s", qPrintable(e.Message()));
    } catch (const arc::ArcError &e) {
        qFatal("fixture: %s", qPrintable(e.Message()));
    }

    // The installation that imports: server role, its central database by a run-only alias.
    g->program = root + QStringLiteral("/prog");
    g->importDir = g->program + QStringLiteral("/import");
    g->central = g->program + QStringLiteral("/central.db");
    g->work = g->importDir + QStringLiteral("/w");
    QDir().mkpath(g->importDir);
    {
        TIniFile ini(g->program + QStringLiteral("/zoru-admin.ini"));
        ini.WriteInteger(StrConst::SettingsSection, StrConst::IsServerKey, 1);
        ini.WriteString(StrConst::SettingsSection, StrConst::SrvDBKey,
                        QStringLiteral("FUZZ_CENTER"));
        ini.WriteString(StrConst::SettingsSection, StrConst::ImportKey,
                        g->importDir + QLatin1Char('/'));
    }
    g->aliases = std::make_unique<TAliasStore>();
    g->aliases->SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    g->aliases->AddAlias(QStringLiteral("FUZZ_CENTER"), QStringLiteral("SQLITE"),
                         {QStringLiteral("DATABASE NAME=") + g->central});
    g->info = std::make_unique<TAppInfo>(g->program + QStringLiteral("/zoru-admin"), *g->aliases);
    g->aliases->SetConfigMode(TAliasStore::ConfigMode::RunOnly);
    AppInfo = g->info.get();
    AppInfo->ImportPath = g->importDir + QLatin1Char('/');
    g->center = std::make_unique<TDatabase>(StrConst::CenterDatabaseName, g->aliases.get());
    g->center->AliasName = QStringLiteral("FUZZ_CENTER");
    g->center->LoginPrompt = false;
    // A file beside the installation that a package would love to overwrite.
    QFile canary(root + QStringLiteral("/canary.txt"));
    if (canary.open(QIODevice::WriteOnly))
        canary.write("untouched\n");
    canary.close();
    g->outside = outsideWork();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    RemoveSqliteFile(g->central);
    if (!QFile::copy(g->fixture.centralTemplate, g->central))
        qFatal("cannot copy the central database");
    QFile::setPermissions(g->central, QFile::ReadOwner | QFile::WriteOwner);
    QDir(g->work).removeRecursively();

    bool unpacked = false;
    if (bytes[0] == TableInput && size >= 2) {
        const auto &names = demo::PackageTableNames();
        const QString table = names[size_t(std::uint8_t(bytes[1])) % names.size()];
        copyTables(g->work);
        QFile::remove(g->work + QLatin1Char('/') + table + QStringLiteral(".PX"));
        QFile f(g->work + QLatin1Char('/') + table + QStringLiteral(".DB"));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes + 2, qint64(size - 2));
        f.close();
        unpacked = true;
    } else {
        const QString package = g->importDir + QStringLiteral("/p.w2s");
        QFile f(package);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes + 1, qint64(size - 1));
        f.close();
        try {
            arc::Extract(package, g->work);
            unpacked = true;
        } catch (const arc::ArcError &) {
            // Refused as a whole: nothing may have been written.
            if (QFileInfo::exists(g->work) && !QDir(g->work).isEmpty())
                __builtin_trap();
        }
        QFile::remove(package);
    }

    if (unpacked) {
        SilentProgress progress;
        try {
            TImWorkstationToServer job(TJobContext{progress, {}}, *g->info, *g->center,
                                       g->importDir + QStringLiteral("/p.w2s"));
            job.ImportFolder(g->work);
        } catch (const Exception &) {
            // A clear refusal of a bad package.
        }
    }
    const auto now = outsideWork();
    if (now != g->outside) {
        for (const auto &[path, state] : now)
            if (g->outside.count(path) == 0 || g->outside.at(path) != state)
                qWarning("written outside the work folder: %s", qPrintable(path));
        for (const auto &[path, state] : g->outside)
            if (now.count(path) == 0)
                qWarning("removed outside the work folder: %s", qPrintable(path));
        __builtin_trap();
    }
    QDir(g->work).removeRecursively();
    return 0;
}
