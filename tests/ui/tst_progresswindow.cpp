// The progress window in which a job runs: its states, its button, its closing rules, and the
// launcher that shows errors of making the job.

#include "core/appinfo.h"
#include "core/strconst.h"
#include "scriptedjob.h"
#include "testsupport.h"
#include "ui/dialogs.h"
#include "ui/progresswindow.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>

namespace {

QPushButton *button()
{
    return Replicator ? Replicator->findChild<QPushButton *>(QStringLiteral("Button")) : nullptr;
}

QStringList memoLines()
{
    auto *memo = Replicator->findChild<QPlainTextEdit *>(QStringLiteral("MsgMemo"));
    return memo->toPlainText().split(QLatin1Char('\n'));
}

// What the window showed when the job had ended, just before the user pressed "OK".
struct Seen
{
    QString caption;
    QString captionWhileRunning;
    QString buttonWhileRunning;
    QStringList lines;
    int gauge = -1;
    bool closableBeforeEnd = true;
    bool closableAfterEnd = true;
    // Set once the running state was seen; the job waits for it so that it cannot end first.
    std::atomic_bool running{false};
    void waitUntilSeen() const
    {
        QDeadlineTimer deadline(10000);
        while (!running.load() && !deadline.hasExpired())
            QThread::msleep(1);
    }
};

// Drives the modal progress window: optionally presses the button while the job runs, then
// waits for "OK", records what is shown and presses it.
void drive(Seen &seen, int cancelPresses = 0, std::function<bool()> readyToCancel = {})
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [=, &seen]() mutable {
        QPushButton *b = button();
        if (!b || !Replicator->isVisible())
            return;
        if (seen.buttonWhileRunning.isEmpty() && b->text() == StrConst::BtnCancel) {
            seen.buttonWhileRunning = b->text();
            seen.captionWhileRunning = Replicator->windowTitle();
            // Closing by the window manager is refused while the job runs.
            Replicator->close();
            seen.closableBeforeEnd = !Replicator->isVisible();
            seen.running = true;
        }
        if (cancelPresses > 0 && b->text() == StrConst::BtnCancel &&
            (!readyToCancel || readyToCancel())) {
            // The button is the default one: Enter presses it as well as a click.
            while (cancelPresses-- > 0) {
                if (cancelPresses % 2 == 0)
                    QTest::keyClick(Replicator, Qt::Key_Return);
                else
                    b->click();
            }
            return;
        }
        if (b->text() == StrConst::BtnOK) {
            // After the end too, neither the window manager nor Esc closes it: only the button.
            Replicator->close();
            QTest::keyClick(Replicator, Qt::Key_Escape);
            seen.closableAfterEnd = !Replicator->isVisible();
            if (seen.closableAfterEnd) {
                timer->stop();
                timer->deleteLater();
                return;
            }
            seen.caption = Replicator->windowTitle();
            seen.lines = memoLines();
            seen.gauge = Replicator->findChild<QProgressBar *>(QStringLiteral("Gauge"))->value();
            timer->stop();
            timer->deleteLater();
            b->click();
        }
    });
    timer->start();
}

} // namespace

class TestProgressWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TAppInfo> m_info;
    TAliasStore m_aliases;

private Q_SLOTS:
    void initTestCase()
    {
        testsupport::writeFile(m_dir.filePath(QStringLiteral("zoru-admin.ini")),
                               QByteArray("[Settings]\r\nIsServer=1\r\n"));
        m_info =
            std::make_unique<TAppInfo>(m_dir.filePath(QStringLiteral("zoru-admin")), m_aliases);
        AppInfo = m_info.get();
        TDialogs::SetTestMode(true);
    }
    void cleanupTestCase() { AppInfo = nullptr; }
    void init() { TDialogs::Reset(); }

    void lifeThroughWindow_data()
    {
        QTest::addColumn<int>("outcome"); // 0 success, 1 fails at once, 2 cancelled
        QTest::addColumn<int>("presses");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("success") << 0 << 0 << true
                                 << QStringList{QStringLiteral("шаг 2"), StrConst::Separator,
                                                QStringLiteral("Задание завершено")};
        QTest::newRow("fails at once")
            << 1 << 0 << false
            << QStringList{StrConst::Separator, QStringLiteral("ОШИБКА!!! Нет связи")};
        QTest::newRow("cancelled, one press")
            << 2 << 1 << false
            << QStringList{StrConst::Separator, QStringLiteral("ОШИБКА!!! Прервано пользователем")};
        QTest::newRow("cancelled, three presses")
            << 2 << 3 << false
            << QStringList{StrConst::Separator, QStringLiteral("ОШИБКА!!! Прервано пользователем")};
    }
    void lifeThroughWindow()
    {
        QFETCH(int, outcome);
        QFETCH(int, presses);
        QFETCH(bool, result);
        QFETCH(QStringList, tail);

        std::atomic_bool looping{false};
        Seen seen;
        const auto work = [outcome, &looping, &seen](ScriptedJob &job) {
            seen.waitUntilSeen();
            if (outcome == 1)
                throw ERplException(QStringLiteral("Нет связи"));
            job.Log(QStringLiteral("шаг 1"));
            job.Position = 40;
            job.UpdateGauge();
            if (outcome == 2) {
                QDeadlineTimer deadline(20000);
                while (!deadline.hasExpired()) {
                    looping = true;
                    job.CheckTerminated();
                    QThread::msleep(2);
                }
                throw ERplException(QStringLiteral("не остановлено"));
            }
            job.Log(QStringLiteral("шаг 2"));
            job.Position = 100;
            job.UpdateGauge();
        };
        drive(seen, presses, [&] { return looping.load(); });
        const bool ok = RunReplication(scripted(work));

        QCOMPARE(ok, result);
        QVERIFY(Replicator == nullptr);
        QCOMPARE(seen.caption, QStringLiteral("Тестовое задание"));
        QCOMPARE(seen.buttonWhileRunning, StrConst::BtnCancel);
        QVERIFY(!seen.closableBeforeEnd);
        QVERIFY(!seen.closableAfterEnd);
        QCOMPARE(seen.lines.mid(0, 2),
                 (QStringList{QStringLiteral("Тестовое задание"), StrConst::Separator}));
        QCOMPARE(seen.lines.mid(seen.lines.size() - tail.size()), tail);
        QCOMPARE(seen.gauge, outcome == 0 ? 100 : outcome == 2 ? 40 : 0);
        // The message of an interrupted job appears once, however often the button was pressed.
        QCOMPARE(seen.lines.count(QStringLiteral("ОШИБКА!!! Прервано пользователем")),
                 outcome == 2 ? 1 : 0);
        QVERIFY(TDialogs::AskedSoFar().isEmpty());
    }

    // An error while creating the job is shown in an error box, and no window stays.
    void creationFailureShownByLauncher()
    {
        TDialogs::SetNextAnswer(TDialogs::Button::Ok);
        const bool ok = RunReplication([](const TJobContext &) -> std::unique_ptr<TRplThread> {
            throw ERplException(StrConst::NotAvailable);
        });
        QVERIFY(!ok);
        QCOMPARE(TDialogs::AskedSoFar().size(), 1);
        QCOMPARE(TDialogs::AskedSoFar().first().kind, TDialogs::Kind::Error);
        QCOMPARE(TDialogs::AskedSoFar().first().text, StrConst::NotAvailable);
        QVERIFY(Replicator == nullptr);
    }

    // Minimising the progress window minimises the application; activating it brings it back.
    void minimiseTakesTheApplication()
    {
        QWidget mainWindow;
        mainWindow.show();
        TReplicator window(&mainWindow);
        window.show();
        window.setWindowState(window.windowState() | Qt::WindowMinimized);
        QVERIFY(mainWindow.windowState() & Qt::WindowMinimized);
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&window, &activate);
        QVERIFY(!(mainWindow.windowState() & Qt::WindowMinimized));
    }
};

QTEST_MAIN(TestProgressWindow)
#include "tst_progresswindow.moc"
