#pragma once

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;
class TAppInfo;
class TDatabase;

// The options of the command line that choose the site folder, tell the version and show the
// state of workstations:
//   zoru-admin [--site DIR] ...
//   zoru-admin --version
//   zoru-admin --status [--silent-days N] [--csv]

// Exit code of --status when some workstation is silent for longer than the limit.
inline constexpr int ExitSilent = 6;

struct TSiteOptions
{
    QCommandLineOption Site{QStringLiteral("site"),
                            QStringLiteral("Папка узла: файл настроек, псевдонимы, log.txt (без "
                                           "параметра — переменная ZORU_SITE, папка программы "
                                           "с файлом настроек или ~/.local/share/zoru-admin)."),
                            QStringLiteral("папка")};
    QCommandLineOption Version{QStringLiteral("version"), QStringLiteral("Показать версию.")};
    QCommandLineOption Status{
        QStringLiteral("status"),
        QStringLiteral("Состояние рабочих станций: последний экспорт и импорт, персоны за 30 "
                       "дней, дни без импорта; код выхода 6, если есть молчащие станции.")};
    QCommandLineOption SilentDays{
        QStringLiteral("silent-days"),
        QStringLiteral("С --status: станция молчит, если успешного импорта не было дольше N "
                       "дней (по умолчанию — из файла настроек, иначе 14)."),
        QStringLiteral("N")};
    QCommandLineOption Csv{QStringLiteral("csv"),
                           QStringLiteral("С --status: таблица для программ (CSV, UTF-8).")};

    void AddTo(QCommandLineParser &parser) const;
};

// "zoru-admin <version>".
QString VersionText();

// The arguments without --site and its value: what is left decides between the desktop program
// and the command line.
QStringList WithoutSiteOption(const QStringList &arguments);
// The value of --site (null when not given).
QString SiteOptionValue(const QStringList &arguments);

// --status: the table on the terminal (or CSV); 0, or ExitSilent when some workstation is
// silent for longer than silentDays (the configuration's limit when negative).
int RunConsoleStatus(const TAppInfo &info, TDatabase &center, int silentDays, bool csv);
