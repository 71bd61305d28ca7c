#include "core/russian.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>

std::unique_ptr<QTranslator> InstallQtTranslations(const QString &programFolder)
{
    const QString name = QStringLiteral("qtbase_ru");
    for (const QString &folder : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                  QDir(programFolder).filePath(QStringLiteral("translations"))}) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(name, folder) && QCoreApplication::installTranslator(translator.get()))
            return translator;
    }
    return nullptr;
}

void UseRussianLocale()
{
    QLocale russian(QLocale::Russian, QLocale::Russia);
    russian.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(russian);
}

void PreferRussianSystemLocale()
{
    const auto unnamed = [](const QByteArray &value) {
        return value.isEmpty() || value == "C" || value == "POSIX" || value.startsWith("C.");
    };
    // LC_ALL, when set, is a choice that overrides the rest, C included.
    if (!qgetenv("LC_ALL").isEmpty() || !unnamed(qgetenv("LC_TIME")) || !unnamed(qgetenv("LANG")))
        return;
    qputenv("LC_TIME", "ru_RU.UTF-8");
}
