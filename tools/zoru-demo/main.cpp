// zoru-demo: makes a program folder ready to use — configuration, aliases, a central database
// filled with demo rows and the ЕСВС database that goes with it.
//
//   zoru-demo --folder <program folder> [--scale N] [--seed S] [--now T]
//             [--postgres host:port:dbname --user U --password P] [--force]
//   (with --postgres the ЕСВС database goes into dbname_esvs on the same server)
//   zoru-demo --folder <installation> --package <persons> [--new-workstation] [--seed S]
//             [--now T] [--password P]
//
// --now fixes the program's clock at a local time (2026-01-15T10:00:00): the same seed and moment
// then give the same files byte for byte, package names and stamps included.
//
// The second form writes a package of a demo workstation (".w2s") into the installation's import
// folder and prints the path of its first volume; the password of a central database on a
// server is taken from --password or ZORU_PASSWORD.
//
// Exit code 0 on success, 1 when the installation could not be made, 2 for a wrong command
// line, 3 when the folder (or the server database) already holds an installation and --force
// was not given.

#include "core/clock.h"
#include "core/errors.h"
#include "core/localzone.h"
#include "core/russian.h"
#include "installation.h"
#include "package.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <optional>

namespace {

enum ExitCode
{
    Ok = 0,
    Failed = 1,
    Usage = 2,
    Exists = 3
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString &message)
{
    err() << message << Qt::endl << QStringLiteral("Справка: zoru-demo --help") << Qt::endl;
    return Usage;
}

void printSummary(const demo::Summary &s, qint64 ms)
{
    QTextStream out(stdout);
    out << QStringLiteral("Демонстрационная установка готова: %1").arg(s.folder) << Qt::endl;
    out << QStringLiteral("  центральная база данных: %1").arg(s.centralTarget) << Qt::endl;
    out << QStringLiteral("  база данных ЕСВС: %1").arg(s.esvsTarget) << Qt::endl;
    out << QStringLiteral("Записей в центральной базе:") << Qt::endl;
    for (const auto &[table, count] : s.centralCounts)
        out << QStringLiteral("  %1: %2").arg(table, -14).arg(count) << Qt::endl;
    out << QStringLiteral("Записей в базе ЕСВС:") << Qt::endl;
    for (const auto &[table, count] : s.esvsCounts)
        out << QStringLiteral("  %1: %2").arg(table, -14).arg(count) << Qt::endl;
    out << QStringLiteral("Для пробы экспорта:") << Qt::endl;
    out << QStringLiteral("  рабочая станция при ЛПУ: WSTGID = %1 (%2)")
               .arg(s.hospitalWst)
               .arg(s.hospitalWstName)
        << Qt::endl;
    if (s.brigadeWst != 0)
        out << QStringLiteral("  рабочая станция при выездной бригаде: WSTGID = %1 (%2)")
                   .arg(s.brigadeWst)
                   .arg(s.brigadeWstName)
            << Qt::endl;
    if (s.bothWst != 0)
        out << QStringLiteral("  рабочая станция при ЛПУ и бригаде: WSTGID = %1").arg(s.bothWst)
            << Qt::endl;
    out << QStringLiteral("Время: %1 с").arg(double(ms) / 1000.0, 0, 'f', 1) << Qt::endl;
}

int makePackage(const QCommandLineParser &parser, const QCommandLineOption &folder,
                const QCommandLineOption &package, const QCommandLineOption &newWst,
                const QCommandLineOption &seed, const QCommandLineOption &password)
{
    for (const char *other : {"scale", "postgres", "user", "force"})
        if (parser.isSet(QLatin1String(other)))
            return usageError(
                QStringLiteral("--%1 не используется с --package").arg(QLatin1String(other)));
    demo::PackageOptions options;
    options.folder = parser.value(folder);
    options.appFolder = QCoreApplication::applicationDirPath();
    bool ok = false;
    options.persons = parser.value(package).toInt(&ok);
    if (!ok || options.persons < 1 || options.persons > 10000000)
        return usageError(QStringLiteral("Неверное число персон: %1 (нужно от 1 до 10000000)")
                              .arg(parser.value(package)));
    options.seed = parser.value(seed).toULongLong(&ok);
    if (!ok)
        return usageError(QStringLiteral("Неверное начальное число: %1").arg(parser.value(seed)));
    options.newWorkstation = parser.isSet(newWst);
    options.password = parser.value(password);
    try {
        const demo::PackageSummary summary = demo::WritePackage(options);
        QTextStream(stdout) << summary.firstVolume << Qt::endl;
    } catch (const Exception &e) {
        err() << QStringLiteral("Не удалось записать пакет: %1").arg(e.Message()) << Qt::endl;
        return Failed;
    }
    return Ok;
}

} // namespace

int main(int argc, char *argv[])
{
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zoru-demo"));
    // Installed beside zoru-admin: its help speaks Russian too, Qt's own words included.
    const auto russian = InstallQtTranslations(QCoreApplication::applicationDirPath());
    UseRussianLocale();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Создаёт демонстрационную установку: файл настроек, псевдонимы, центральную базу данных "
        "с примерными данными и базу ЕСВС."));
    parser.addHelpOption();
    const QCommandLineOption folderOption(
        QStringLiteral("folder"), QStringLiteral("Папка программы."), QStringLiteral("папка"));
    const QCommandLineOption scaleOption(
        QStringLiteral("scale"),
        QStringLiteral("Множитель объёма данных (1 — около 2000 ЛПУ; допускаются дроби)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"),
        QStringLiteral("Начальное число генератора (те же данные при том же числе)."),
        QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption pgOption(
        QStringLiteral("postgres"),
        QStringLiteral("Центральная база данных на сервере PostgreSQL (база должна существовать); "
                       "база ЕСВС — рядом с ней, в базе <база>_esvs (создаётся при "
                       "необходимости)."),
        QStringLiteral("сервер:порт:база"));
    const QCommandLineOption userOption(
        QStringLiteral("user"), QStringLiteral("Имя пользователя сервера."), QStringLiteral("имя"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("Пароль пользователя сервера."),
                                            QStringLiteral("пароль"));
    const QCommandLineOption forceOption(QStringLiteral("force"),
                                         QStringLiteral("Перезаписать существующую установку."));
    const QCommandLineOption packageOption(
        QStringLiteral("package"),
        QStringLiteral("Записать в папку импорта установки пакет рабочей станции с N персонами."),
        QStringLiteral("N"));
    const QCommandLineOption newWstOption(
        QStringLiteral("new-workstation"),
        QStringLiteral("Пакет рабочей станции, оператора и ЛПУ, неизвестных центру."));
    const QCommandLineOption nowOption(
        QStringLiteral("now"),
        QStringLiteral("Считать текущим этот момент местного времени, например "
                       "2026-01-15T10:00:00 (те же файлы при том же моменте и начальном числе)."),
        QStringLiteral("момент"));
    parser.addOptions({folderOption, scaleOption, seedOption, pgOption, userOption, passwordOption,
                       forceOption, packageOption, newWstOption, nowOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Ok);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Лишние аргументы: %1")
                              .arg(parser.positionalArguments().join(QLatin1Char(' '))));

    if (!parser.isSet(folderOption) || parser.value(folderOption).isEmpty())
        return usageError(QStringLiteral("Не указана папка программы (--folder)"));
    std::optional<TFixedClock> fixedClock;
    if (parser.isSet(nowOption)) {
        const QDateTime now = QDateTime::fromString(parser.value(nowOption), Qt::ISODate);
        if (!now.isValid())
            return usageError(QStringLiteral("Неверный момент: %1 (нужно ГГГГ-ММ-ДДTчч:мм:сс)")
                                  .arg(parser.value(nowOption)));
        fixedClock.emplace(now);
    }
    if (parser.isSet(packageOption))
        return makePackage(parser, folderOption, packageOption, newWstOption, seedOption,
                           passwordOption);
    if (parser.isSet(newWstOption))
        return usageError(QStringLiteral("--new-workstation нужен только с --package"));

    demo::Options options;
    options.folder = parser.value(folderOption);
    bool ok = false;
    options.scale = parser.value(scaleOption).toDouble(&ok);
    if (!ok || !(options.scale > 0) || options.scale > 1000)
        return usageError(
            QStringLiteral("Неверный масштаб: %1 (нужно число больше 0, не больше 1000)")
                .arg(parser.value(scaleOption)));
    options.seed = parser.value(seedOption).toULongLong(&ok);
    if (!ok)
        return usageError(
            QStringLiteral("Неверное начальное число: %1").arg(parser.value(seedOption)));
    if (parser.isSet(pgOption)) {
        demo::PgTarget target;
        if (!demo::ParsePgTarget(parser.value(pgOption), target))
            return usageError(QStringLiteral("Неверный адрес сервера: %1 (нужно сервер:порт:база)")
                                  .arg(parser.value(pgOption)));
        if (!parser.isSet(userOption))
            return usageError(
                QStringLiteral("Для сервера PostgreSQL нужно имя пользователя (--user)"));
        target.user = parser.value(userOption);
        target.password = parser.value(passwordOption);
        options.postgres = target;
    } else if (parser.isSet(userOption) || parser.isSet(passwordOption)) {
        return usageError(QStringLiteral("Имя пользователя и пароль нужны только с --postgres"));
    }
    options.force = parser.isSet(forceOption);

    QElapsedTimer timer;
    timer.start();
    try {
        const demo::Summary summary = demo::CreateInstallation(options);
        printSummary(summary, timer.elapsed());
    } catch (const demo::EInstallationExists &e) {
        err() << e.Message() << Qt::endl;
        return Exists;
    } catch (const EDBEngineError &e) {
        err()
            << QStringLiteral("Не удалось создать демонстрационную установку: %1").arg(e.Message())
            << Qt::endl;
        if (!e.Sql().isEmpty())
            err() << QStringLiteral("Оператор:") << Qt::endl << e.Sql() << Qt::endl;
        return Failed;
    } catch (const Exception &e) {
        err()
            << QStringLiteral("Не удалось создать демонстрационную установку: %1").arg(e.Message())
            << Qt::endl;
        return Failed;
    }
    return Ok;
}
