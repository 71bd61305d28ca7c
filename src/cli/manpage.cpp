// zoru-admin-manpage <template> <page>: the manual page of zoru-admin, made at build time. The
// template's lines ".\" OPTIONS" and ".\" EXIT STATUS" are replaced by the parameters and the
// exit statuses of the command line's table; the rest of the page is written by hand.

#include "cli/commandline.h"

#include <QFile>
#include <QTextStream>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    QFile in(QString::fromLocal8Bit(argv[1]));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text) ||
        !out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return 1;
    QTextStream read(&in);
    QTextStream write(&out);
    bool options = false;
    bool statuses = false;
    while (!read.atEnd()) {
        const QString line = read.readLine();
        QStringList lines{line};
        if (line == QLatin1String(".\\\" OPTIONS")) {
            lines = ManualOptionLines();
            options = true;
        } else if (line == QLatin1String(".\\\" EXIT STATUS")) {
            lines = ManualExitStatusLines();
            statuses = true;
        }
        for (const QString &l : lines)
            write << l << '\n';
    }
    write.flush();
    return options && statuses && out.error() == QFileDevice::NoError ? 0 : 1;
}
