#include "ui/textlistbox.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kShort = u"ЦРБ"_s;
const QString kMiddle = u"Городская больница №3"_s;
const QString kLong = u"Областная клиническая больница имени Н. И. Пирогова, корпус 2"_s;

int widest(const TTextListBox &box)
{
    int w = 0;
    for (int i = 0; i < box.count(); ++i)
        w = qMax(w, QFontMetrics(box.font()).horizontalAdvance(box.item(i)->text() + u'x'));
    return w;
}

} // namespace

class TestTextListBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The widest item sets the scroll range through every change of items and font; a narrower
    // widest item scrolls back to the start.
    void rangeCoversWidestItem_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("itemsLeft");
        QTest::newRow("added") << QString() << 3;
        QTest::newRow("widest deleted") << u"delete widest"_s << 2;
        QTest::newRow("narrow deleted") << u"delete narrow"_s << 2;
        QTest::newRow("renamed") << u"rename widest"_s << 3;
        QTest::newRow("cleared") << u"clear"_s << 0;
        QTest::newRow("bigger font") << u"font"_s << 3;
    }
    void rangeCoversWidestItem()
    {
        QFETCH(QString, action);
        QFETCH(int, itemsLeft);
        TTextListBox box;
        box.setSortingEnabled(true);
        box.resize(120, 100);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(box.MaxWidth(), 0);
        box.addItems({kMiddle, kLong, kShort});
        QVERIFY(box.MaxWidth() > 120);
        box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum());

        const int before = box.MaxWidth();
        if (action == u"delete widest"_s)
            delete box.findItems(kLong, Qt::MatchExactly).first();
        else if (action == u"delete narrow"_s)
            delete box.findItems(kShort, Qt::MatchExactly).first();
        else if (action == u"rename widest"_s)
            box.findItems(kLong, Qt::MatchExactly).first()->setText(u"Б"_s);
        else if (action == u"clear"_s)
            box.clear();
        else if (action == u"font"_s) {
            QFont f = box.font();
            f.setPointSize(f.pointSize() * 2);
            box.setFont(f);
            QVERIFY(box.MaxWidth() > before);
        }

        QCOMPARE(box.count(), itemsLeft);
        QCOMPARE(box.MaxWidth(), widest(box));
        QTRY_COMPARE(box.horizontalScrollBar()->maximum(),
                     qMax(0, box.MaxWidth() - box.viewport()->width()));
        if (action == u"delete narrow"_s)
            QCOMPARE(box.MaxWidth(), before);
        if (box.MaxWidth() < before)
            QCOMPARE(box.horizontalScrollBar()->value(), 0);
    }

    void tabsExpandToStops()
    {
        TTextListBox box;
        const QFontMetrics fm(box.font());
        const int plain = box.TextWidth(u"a\tb"_s);
        box.addItem(u"a\tb"_s);
        box.SetTabWidth(64); // stops every 16 widths of "0"
        const int stop = qRound(fm.horizontalAdvance(u'0') * 16.0);
        QCOMPARE(box.ItemWidth(0), stop + fm.horizontalAdvance(u"bx"_s));
        QCOMPARE(box.MaxWidth(), box.ItemWidth(0));
        QVERIFY(box.MaxWidth() > plain);
    }
};

QTEST_MAIN(TestTextListBox)
#include "tst_textlistbox.moc"
