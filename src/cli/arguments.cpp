#include "cli/arguments.h"

#include <QCommandLineParser>
#include <utility>

void TSiteOptions::AddTo(QCommandLineParser &parser) const
{
    parser.addOptions({Site, Version, Status, SilentDays, Csv});
}

QString VersionText()
{
    return QStringLiteral("zoru-admin ") + QStringLiteral(ZORU_VERSION);
}

namespace {

// Where --site is among the arguments: its index and whether the value is attached; -1 when
// it is not there.
std::pair<qsizetype, bool> siteAt(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--site") || a == QLatin1String("-site"))
            return {i, false};
        if (a.startsWith(QLatin1String("--site=")) || a.startsWith(QLatin1String("-site=")))
            return {i, true};
    }
    return {-1, false};
}

} // namespace

QStringList WithoutSiteOption(const QStringList &arguments)
{
    QStringList out = arguments;
    const auto [at, attached] = siteAt(out);
    if (at >= 0)
        out.remove(at, attached || at + 1 >= out.size() ? 1 : 2);
    return out;
}

QString SiteOptionValue(const QStringList &arguments)
{
    const auto [at, attached] = siteAt(arguments);
    if (at < 0)
        return {};
    if (attached)
        return arguments[at].section(QLatin1Char('='), 1);
    return at + 1 < arguments.size() ? arguments[at + 1] : QStringLiteral("");
}

QStringList WithoutQtOptions(const QStringList &args)
{
    static const QStringList withValue =
        QStringLiteral("platform platformpluginpath platformtheme plugin qwindowgeometry "
                       "qwindowicon qwindowtitle session style stylesheet display geometry name "
                       "title visual qmljsdebugger")
            .split(QLatin1Char(' '));
    static const QStringList flags =
        QStringLiteral("reverse widgetcount nograb dograb testability").split(QLatin1Char(' '));
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (!a.startsWith(QLatin1Char('-'))) {
            out << a;
            continue;
        }
        QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        const bool valueAttached = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (withValue.contains(name)) {
            if (!valueAttached)
                ++i;
        } else if (!flags.contains(name)) {
            out << a;
        }
    }
    return out;
}

bool IsConsoleInvocation(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return !WithoutSiteOption(WithoutQtOptions(args)).isEmpty();
}
