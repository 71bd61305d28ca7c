#include "admin/datasetgrid.h"
#include "app/importjournalwindow.h"
#include "centraldb.h"
#include "import/importjournal.h"

#include <QComboBox>
#include <QDateEdit>
#include <QtTest>

namespace {

const QDateTime kMarch(QDate(2026, 3, 1), QTime(10, 0, 0));

struct Run
{
    const char *package;
    int wst;
    qint64 startSecs; // after kMarch
    QString result;
    QList<TImportTableCounts> tables;
};

void fill(CentralDb &c)
{
    c.Exec(QStringLiteral("INSERT INTO WORKSTATION (WSTGID, WSTNAME) VALUES (12, 'ТАРА-1')"));
    const Run runs[] = {
        {"a.w2s",
         12,
         0,
         ImportResultSucceeded,
         {{QStringLiteral("City"), 1, 0, 0, 1, 1}, {QStringLiteral("Person"), 2, 3, 0, 0, 0}}},
        {"b.w2s", 12, 4 * 86400 - 3600, ImportResultFailed, {}},
        {"c.w2s", 7, 2 * 86400 + 7200, ImportResultSucceeded, {}},
        {"d.w2s", 12, 31 * 86400, QString(), {}},
    };
    TImportJournal journal(c.Db());
    for (const Run &r : runs) {
        TImportPackageInfo p;
        p.FileName = QString::fromLatin1(r.package);
        p.WstGID = r.wst;
        const QDateTime start = kMarch.addSecs(r.startSecs);
        const qint64 id = journal.Begin(p, start);
        if (!r.result.isEmpty())
            journal.End(id, r.result, {}, r.tables, start.addSecs(60));
    }
}

QStringList column(QAbstractItemModel *m, int col)
{
    QStringList values;
    for (int r = 0; r < m->rowCount(); ++r)
        values << m->index(r, col).data().toString();
    return values;
}

} // namespace

class TestImportJournalForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The controls filter the runs (newest first) by workstation and by the days they started
    // on, both days included; the selected run shows its tables.
    void filters_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("wst"); // 0: all
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("packages"); // a.w2s is "a"
        const QDate first(2026, 3, 1);
        const QDate march(2026, 3, 31);
        for (const QString &backend : {QStringLiteral("SQLITE"), QStringLiteral("POSTGRESQL")}) {
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::newRow(qPrintable(backend + QLatin1Char('/') + QLatin1String(name)))
                       << backend;
            };
            row("all") << 0 << first << QDate(2026, 12, 31) << "dbca";
            row("march") << 0 << first << march << "bca";
            row("station 12, march") << 12 << first << march << "ba";
            row("station 12, one day") << 12 << QDate(2026, 3, 5) << QDate(2026, 3, 5) << "b";
            row("none") << 7 << QDate(2026, 4, 1) << QDate(2026, 4, 30) << "";
        }
    }
    void filters()
    {
        QFETCH(QString, backend);
        QFETCH(int, wst);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QString, packages);
        if (backend == QLatin1String("POSTGRESQL")) {
            ZORU_REQUIRE_PG_OR_SKIP(pg);
            Q_UNUSED(pg);
        }
        CentralDb c(backend);
        fill(c);
        TImportJournalForm form(c.Db());
        auto *station = form.findChild<QComboBox *>(QStringLiteral("cbWorkstation"));
        auto *grid = form.findChild<TDataSetGrid *>(QStringLiteral("grdJournal"));
        auto *tables = form.findChild<TDataSetGrid *>(QStringLiteral("grdJournalTables"));
        QVERIFY(station && grid && tables);
        QCOMPARE(station->count(), 3); // all, 7, 12
        form.findChild<QDateEdit *>(QStringLiteral("dtFrom"))->setDate(from);
        form.findChild<QDateEdit *>(QStringLiteral("dtTo"))->setDate(to);
        station->setCurrentIndex(wst ? station->findData(wst) : 0);
        QString shown;
        for (const QString &name : column(grid->model(), 5))
            shown += name.section(QLatin1Char('.'), 0, 0);
        QCOMPARE(shown, packages);

        if (const qsizetype a = shown.indexOf(QLatin1Char('a')); a >= 0) {
            grid->setCurrentIndex(grid->model()->index(int(a), 0));
            QCOMPARE(column(tables->model(), 0).join(QLatin1Char(' ')),
                     QStringLiteral("City Person"));
            QCOMPARE(column(tables->model(), 2).join(QLatin1Char(' ')), QStringLiteral("0 3"));
        }
        if (const qsizetype d = shown.indexOf(QLatin1Char('d')); d >= 0)
            QCOMPARE(grid->model()->index(int(d), 2).data().toString(), ImportResultUnfinished);
    }
};

QTEST_MAIN(TestImportJournalForm)
#include "tst_importjournalwindow.moc"
