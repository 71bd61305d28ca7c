#include "cli/commandline.h"

#include <stdexcept>

namespace {

QString s(const char16_t *text)
{
    return QString::fromUtf16(text);
}

// Text for roff: backslashes and hyphens escaped, a leading dot or quote guarded.
QString roff(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    text.replace(QLatin1Char('-'), QLatin1String("\\-"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\'')))
        text.prepend(QLatin1String("\\&"));
    return text;
}

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QLatin1String("-") : QLatin1String("--")) + name;
}

} // namespace

const QList<TCommandLineEntry> &CommandLineEntries()
{
    static const QList<TCommandLineEntry> entries = {
        {{s(u"site")},
         s(u"папка"),
         s(u"Папка узла: файл настроек, псевдонимы, log.txt (без параметра — переменная "
           u"ZORU_SITE, папка программы с файлом настроек или ~/.local/share/zoru-admin).")},
        {{s(u"export")},
         s(u"WstGID"),
         s(u"Экспорт справочников для рабочей станции с идентификатором <WstGID>.")},
        {{s(u"import")},
         s(u"package.w2s"),
         s(u"Импорт пакета рабочей станции <package.w2s> (первый том) без окна.")},
        {{s(u"import-all")},
         {},
         s(u"Импорт всех пакетов папки импорта, начиная с самого старого.")},
        {{s(u"force")},
         {},
         s(u"С --import и --import-all: импортировать и пакет, уже импортированный ранее.")},
        {{s(u"dry-run")},
         {},
         s(u"С --import: проверить пакет — импорт в транзакции, которая затем откатывается; "
           u"база данных не меняется, пакет остаётся.")},
        {{s(u"keep-going")},
         {},
         s(u"С --import и --import-all: записи, которые центральная база данных отвергает, "
           u"пропускаются (вместе с зависящими от них) и перечисляются в журнале импорта, "
           u"остальное импортируется; пакет остаётся для повторного импорта.")},
        {{s(u"sync")}, {}, s(u"Синхронизация справочников с ЕСВС: регионы, типы ЛПУ и ЛПУ.")},
        {{s(u"status")},
         {},
         s(u"Состояние рабочих станций: последний экспорт и импорт, персоны за 30 дней, дни без "
           u"импорта; код выхода 6, если есть молчащие станции.")},
        {{s(u"silent-days")},
         s(u"N"),
         s(u"С --status: станция молчит, если успешного импорта не было дольше N дней (по "
           u"умолчанию — из файла настроек, иначе 14).")},
        {{s(u"csv")}, {}, s(u"С --status: таблица для программ (CSV, UTF-8).")},
        {{s(u"version")}, {}, s(u"Показать версию.")},
        {{s(u"h"), s(u"help")}, {}, s(u"Показать эту справку.")},
    };
    return entries;
}

const QList<TExitStatusEntry> &ExitStatusEntries()
{
    static const QList<TExitStatusEntry> entries = {
        {s(u"0"), s(u"успешно")},
        {s(u"1"), s(u"ошибка")},
        {s(u"2"), s(u"неверная командная строка")},
        {s(u"3"), s(u"синхронизация выполнена, но часть ЛПУ не записана")},
        {s(u"4"), s(u"пакет уже импортирован (повторно: --force)")},
        {s(u"5"), s(u"импорт выполнен, отвергнутые записи пропущены (--keep-going)")},
        {s(u"6"), s(u"есть молчащие рабочие станции (--status)")},
        {s(u"7"), s(u"занято: импорт выполняет другая программа (--import-all сразу, --import "
                    u"после ожидания); ничего не изменено")},
        {s(u"128+N"), s(u"задание остановлено сигналом N (SIGINT, SIGTERM)")},
    };
    return entries;
}

QCommandLineOption CommandLineEntry(const QString &name)
{
    for (const TCommandLineEntry &e : CommandLineEntries())
        if (e.Names.last() == name)
            return e.ValueName.isEmpty() ? QCommandLineOption(e.Names, e.Help)
                                         : QCommandLineOption(e.Names, e.Help, e.ValueName);
    throw std::out_of_range("no command-line option " + name.toStdString());
}

QString ExitStatusText()
{
    QStringList parts;
    for (const TExitStatusEntry &e : ExitStatusEntries())
        parts << e.Code + QStringLiteral(" — ") + e.Meaning;
    return QStringLiteral("Код выхода: ") + parts.join(QStringLiteral("; ")) + QLatin1Char('.');
}

QStringList ManualOptionLines()
{
    QStringList lines;
    for (const TCommandLineEntry &e : CommandLineEntries()) {
        lines << QStringLiteral(".TP");
        QStringList names;
        for (const QString &name : e.Names)
            names << roff(dashed(name));
        if (!e.ValueName.isEmpty())
            lines << QStringLiteral(".BI %1 \" %2\"")
                         .arg(names.join(QStringLiteral(", ")), roff(e.ValueName));
        else if (names.size() > 1)
            lines << QStringLiteral(".BR %1").arg(names.join(QStringLiteral(" \", \" ")));
        else
            lines << QStringLiteral(".B ") + names.first();
        lines << roff(e.Help);
    }
    return lines;
}

QStringList ManualExitStatusLines()
{
    QStringList lines;
    for (const TExitStatusEntry &e : ExitStatusEntries()) {
        QString meaning = e.Meaning;
        meaning[0] = meaning[0].toUpper();
        lines << QStringLiteral(".TP") << QStringLiteral(".B ") + roff(e.Code)
              << roff(meaning) + QLatin1Char('.');
    }
    return lines;
}
