// The exit status of an import and its line of a batch summary, made from what the run did.

#include "cli/consoleimport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestImportStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fromResult_data()
    {
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>(
            "flags"); // d: dry run, r: repeated, p: passed over, l: locked out
        QTest::addColumn<int>("refused");
        QTest::addColumn<int>("runStatus");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("summaryWord");
        // clang-format off
        QTest::newRow("imported") << ImportResultSucceeded << "" << 0 << 0 << 0 << ImportResultSucceeded;
        QTest::newRow("past refused rows") << ImportResultSkipped << "" << 2 << 0 << ExitImportedWithSkips << ImportResultSkipped;
        QTest::newRow("failed") << ImportResultFailed << "" << 0 << 1 << 1 << ImportResultFailed;
        QTest::newRow("cancelled") << ImportResultCancelled << "" << 0 << 1 << 1 << ImportResultCancelled;
        QTest::newRow("stopped by SIGTERM") << ImportResultCancelled << "" << 0 << 143 << 143 << ImportResultCancelled;
        QTest::newRow("imported before") << ImportResultFailed << "r" << 0 << 1 << ExitAlreadyImported << "пропущен";
        QTest::newRow("imported meanwhile") << ImportResultSucceeded << "rp" << 0 << 0 << ExitAlreadyImported << "пропущен";
        QTest::newRow("another import") << ImportResultFailed << "l" << 0 << 1 << ExitImportBusy << ImportResultFailed;
        QTest::newRow("stopped while waiting") << ImportResultCancelled << "l" << 0 << 130 << 130 << ImportResultCancelled;
        QTest::newRow("dry run, clean") << ImportResultSucceeded << "d" << 0 << 0 << 0 << ImportResultSucceeded;
        QTest::newRow("dry run with problems") << ImportResultSucceeded << "d" << 3 << 0 << 1 << ImportResultSucceeded;
        QTest::newRow("not begun") << QString() << "" << 0 << 1 << 1 << ImportResultFailed;
        // clang-format on
    }
    void fromResult()
    {
        QFETCH(QString, result);
        QFETCH(QString, flags);
        QFETCH(int, refused);
        QFETCH(int, runStatus);
        QFETCH(int, exitStatus);
        QFETCH(QString, summaryWord);
        TImportResult r;
        r.Result = result;
        r.DryRun = flags.contains(u'd');
        r.Repeated = flags.contains(u'r');
        r.PassedOver = flags.contains(u'p');
        r.LockedOut = flags.contains(u'l');
        r.Refused.resize(refused);
        r.Package.WstGID = 7;
        // Rows written: new and edited rows, and the new mappings of a dictionary step.
        r.Tables = {{u"City"_s, 5, 0, 9, 2, 0}, {u"Person"_s, 3, 4, 1, 9, 1}};
        QCOMPARE(ImportExitStatus(r, runStatus), exitStatus);
        const TImportBatchEntry entry = ImportBatchEntry(u"a.w2s"_s, r, 1.5);
        QCOMPARE(entry.Result, summaryWord);
        QCOMPARE(entry.Rows, 9);
        QCOMPARE(entry.WstGID, QVariant(7));
    }
};

QTEST_GUILESS_MAIN(TestImportStatus)
#include "tst_importstatus.moc"
