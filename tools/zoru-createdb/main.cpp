// zoru-createdb: creates a database from one of the built-in creation scripts.
//
//   zoru-createdb --aliases <alias file> --alias <name> --script central|esvs
//                 [--user <name> --password <password>]
//   zoru-createdb --sqlite <file> --script central|esvs
//
// Exit code 0 on success, 1 when the database could not be created, 2 for a wrong command line.

#include "core/aliases.h"
#include "core/errors.h"
#include "core/russian.h"
#include "engine/database.h"
#include "schema/schema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

enum ExitCode
{
    Ok = 0,
    Failed = 1,
    Usage = 2
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString &message)
{
    err() << message << Qt::endl << QStringLiteral("Справка: zoru-createdb --help") << Qt::endl;
    return Usage;
}

// Removes a database file that this run created, unless the run succeeded.
class CreatedFile
{
public:
    explicit CreatedFile(QString path) : m_path(std::move(path)) {}
    ~CreatedFile()
    {
        if (!m_kept)
            RemoveSqliteFile(m_path);
    }
    CreatedFile(const CreatedFile &) = delete;
    CreatedFile &operator=(const CreatedFile &) = delete;
    void keep() { m_kept = true; }

private:
    QString m_path;
    bool m_kept = false;
};

void createFor(TAliasStore &aliases, const QString &alias, SchemaKind kind, const QString &user,
               const QString &password, bool hasPassword)
{
    TDatabase db(kind == SchemaKind::Central ? QStringLiteral("KZCenter") : QStringLiteral("ESVS"),
                 &aliases);
    db.AliasName = alias;
    db.LoginPrompt = false;
    if (!user.isEmpty())
        db.Params << QStringLiteral("USER NAME=") + user;
    if (hasPassword)
        db.Params << QStringLiteral("PASSWORD=") + password;
    db.Open();
    CreateSchema(db, kind);
    db.Close();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zoru-createdb"));
    // Installed beside zoru-admin: its help speaks Russian too, Qt's own words included.
    const auto russian = InstallQtTranslations(QCoreApplication::applicationDirPath());
    UseRussianLocale();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Создаёт центральную базу данных или базу ЕСВС по встроенному сценарию."));
    parser.addHelpOption();
    const QCommandLineOption aliasesOption(
        QStringLiteral("aliases"), QStringLiteral("Файл псевдонимов."), QStringLiteral("файл"));
    const QCommandLineOption aliasOption(
        QStringLiteral("alias"), QStringLiteral("Псевдоним базы данных."), QStringLiteral("имя"));
    const QCommandLineOption sqliteOption(QStringLiteral("sqlite"),
                                          QStringLiteral("Файл новой базы данных SQLite."),
                                          QStringLiteral("файл"));
    const QCommandLineOption scriptOption(QStringLiteral("script"),
                                          QStringLiteral("Сценарий: central или esvs."),
                                          QStringLiteral("сценарий"));
    const QCommandLineOption userOption(
        QStringLiteral("user"), QStringLiteral("Имя пользователя сервера."), QStringLiteral("имя"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("Пароль пользователя сервера."),
                                            QStringLiteral("пароль"));
    parser.addOptions(
        {aliasesOption, aliasOption, sqliteOption, scriptOption, userOption, passwordOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Ok);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Лишние аргументы: %1")
                              .arg(parser.positionalArguments().join(QLatin1Char(' '))));

    SchemaKind kind = SchemaKind::Central;
    if (!parser.isSet(scriptOption))
        return usageError(QStringLiteral("Не указан сценарий (--script central или esvs)"));
    if (!ParseSchemaKind(parser.value(scriptOption), kind))
        return usageError(QStringLiteral("Неизвестный сценарий: %1 (допустимы central и esvs)")
                              .arg(parser.value(scriptOption)));

    const bool bySqlite = parser.isSet(sqliteOption);
    const bool byAlias = parser.isSet(aliasesOption) || parser.isSet(aliasOption);
    if (bySqlite == byAlias)
        return usageError(
            QStringLiteral("Укажите либо --sqlite <файл>, либо --aliases <файл> и --alias <имя>"));
    if (byAlias && (!parser.isSet(aliasesOption) || !parser.isSet(aliasOption)))
        return usageError(
            QStringLiteral("Для псевдонима нужны оба параметра: --aliases и --alias"));
    if (bySqlite && (parser.isSet(userOption) || parser.isSet(passwordOption)))
        return usageError(QStringLiteral("Для файла SQLite имя пользователя и пароль не нужны"));

    QString target;
    try {
        if (bySqlite) {
            const QString path = QFileInfo(parser.value(sqliteOption)).absoluteFilePath();
            target = path;
            if (QFileInfo::exists(path))
                throw EFileError(QStringLiteral("Файл уже существует: %1").arg(path));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                throw EFileError(
                    QStringLiteral("Невозможно создать файл %1: %2").arg(path, file.errorString()));
            file.close();
            CreatedFile created(path);
            TAliasStore aliases;
            aliases.SetConfigMode(TAliasStore::ConfigMode::RunOnly);
            const QString alias = QStringLiteral("ZORU_CREATEDB");
            aliases.AddAlias(alias, QStringLiteral("SQLITE"),
                             {QStringLiteral("DATABASE NAME=") + path});
            createFor(aliases, alias, kind, {}, {}, false);
            created.keep();
        } else {
            const QString aliasFile = parser.value(aliasesOption);
            if (!QFileInfo(aliasFile).isFile())
                throw EFileError(QStringLiteral("Файл псевдонимов не найден: %1").arg(aliasFile));
            TAliasStore aliases(aliasFile);
            const QString alias = parser.value(aliasOption);
            target = alias;
            if (!aliases.IsAlias(alias))
                throw EDatabaseError(
                    QStringLiteral("Псевдоним %1 не найден в файле %2").arg(alias, aliasFile));
            // Without --user the alias's own user name is used, as the program would offer it.
            const QString user = parser.isSet(userOption)
                                     ? parser.value(userOption)
                                     : aliases.GetAliasParam(alias, QStringLiteral("USER NAME"));
            createFor(aliases, alias, kind, user, parser.value(passwordOption),
                      parser.isSet(passwordOption));
        }
    } catch (const EDBEngineError &e) {
        err() << QStringLiteral("Не удалось создать базу данных %1: %2").arg(target, e.Message())
              << Qt::endl;
        if (!e.Sql().isEmpty())
            err() << QStringLiteral("Оператор сценария:") << Qt::endl << e.Sql() << Qt::endl;
        return Failed;
    } catch (const Exception &e) {
        err() << QStringLiteral("Не удалось создать базу данных %1: %2").arg(target, e.Message())
              << Qt::endl;
        return Failed;
    }
    QTextStream(stdout) << QStringLiteral("База данных создана: %1").arg(target) << Qt::endl;
    return Ok;
}
