#include "cli/siteconfig.h"

#include "core/errors.h"
#include "core/strconst.h"
#include "engine/database.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

void EnsureRuntimeFolder()
{
#ifdef Q_OS_UNIX
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    // Qt wants a folder of this user alone (mode 0700); one that fails the test is left unused
    // (Qt then finds its own and says so).
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/zoru-runtime-" +
                              QByteArray::number(static_cast<qulonglong>(::getuid()));
    if (::mkdir(folder.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return;
    struct stat st; // filled by lstat
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 0777) != S_IRWXU)
        return;
    qputenv("XDG_RUNTIME_DIR", folder);
#endif
}

std::unique_ptr<TAppInfo> LoadConfiguration(const QString &exePath, TAliasStore &aliases,
                                            const TAppInfo::Ui &ui, const QString &siteFolder)
{
    auto info = std::make_unique<TAppInfo>(exePath, aliases, siteFolder);
    ::AppInfo = info.get();
    try {
        aliases.Load(info->SiteFolder() + StrConst::AliasFileName);
        info->RegisterAliases();
        if (info->CheckDatabases(ui))
            return info;
    } catch (...) {
        ::AppInfo = nullptr;
        throw;
    }
    ::AppInfo = nullptr;
    return nullptr;
}

void ConfigureCentralDatabase(TDatabase &db, const TAppInfo &info)
{
    db.AliasName = info.SrvDBAlias();
    if (!db.Aliases().GetAliasNames().contains(db.AliasName, Qt::CaseInsensitive))
        throw EDatabaseError(StrConst::BadAlias + db.AliasName);
    QString userName;
    try {
        userName = info.ReadRequired(StrConst::SettingsSection, StrConst::UserNameKey);
    } catch (const EAppInfoException &) {
        // No user name configured: the log-in starts with an empty one.
    }
    db.Params = {QStringLiteral("USER NAME=") + userName};
    TBusyWait wait = db.BusyWait();
    wait.Seconds = info.BusyWaitSeconds();
    db.SetBusyWait(std::move(wait));
}

namespace {

QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // What the drivers say of statements after the server has gone.
    if (type == QtWarningMsg &&
        (message.startsWith(QLatin1String("Unable to free statement")) ||
         message.endsWith(QLatin1String("database not open"), Qt::CaseInsensitive)))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void QuietSqlDriverNotes()
{
    previousHandler = qInstallMessageHandler(quietHandler);
}
