// SPDX-License-Identifier: MIT
#include "overlay.h"

#include <QTime>
#include <QtTest>

namespace {

constexpr int kDayMs = 24 * 60 * 60 * 1000;

QTime timeOfDay(int ms)
{
    return QTime::fromMSecsSinceStartOfDay(((ms % kDayMs) + kDayMs) % kDayMs);
}

// n paints spaced step ms apart, the first at start ms into the day.
QList<int> evenly(int start, int step, int n)
{
    QList<int> times;
    for (int i = 0; i < n; ++i)
        times << start + i * step;
    return times;
}

// The readout for paints every 40 ms: 0 until the paint 1000 ms after the
// first, which shows 26; after that 25 for each further second.
QList<int> every40msShown(int n)
{
    QList<int> shown;
    for (int i = 0; i < n; ++i)
        shown << (i < 25 ? 0 : i < 50 ? 26 : 25);
    return shown;
}

} // namespace

class TestFrameRate : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data();
    void sequences();
    void firstPaintStartsWindowAtItsTime();
    void closingPaintStartsNextWindow();
};

void TestFrameRate::sequences_data()
{
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<QList<int>>("shown");

    QTest::newRow("first paint") << QList<int> {5000} << QList<int> {0};
    QTest::newRow("first paint at midnight") << QList<int> {0, 10} << QList<int> {0, 0};
    QTest::newRow("every 40 ms") << evenly(1000, 40, 130) << every40msShown(130);
    QTest::newRow("every 2 s") << evenly(1000, 2000, 5) << QList<int> {0, 2, 1, 1, 1};
    QTest::newRow("closes at 1000 ms, not 999")
        << QList<int> {1000, 1999, 2000} << QList<int> {0, 0, 3};
    QTest::newRow("burst then pause") << QList<int> {1000, 1010, 1020, 1030, 1040, 4000, 4010, 5010}
                                      << QList<int> {0, 0, 0, 0, 0, 6, 6, 2};
    QTest::newRow("paints at the same millisecond")
        << QList<int> {1000, 1000, 1000, 2000} << QList<int> {0, 0, 0, 4};
    // 200 ms pass in real time, yet the distance is almost a day.
    QTest::newRow("midnight wrap")
        << QList<int> {kDayMs - 100, kDayMs + 100, kDayMs + 200} << QList<int> {0, 2, 2};
    QTest::newRow("midnight wrap in a running window")
        << QList<int> {kDayMs - 1500, kDayMs - 500, kDayMs - 400,
                       kDayMs - 300,  kDayMs + 300, kDayMs + 400}
        << QList<int> {0, 2, 2, 2, 3, 3};
}

void TestFrameRate::sequences()
{
    QFETCH(QList<int>, times);
    QFETCH(QList<int>, shown);
    QCOMPARE(times.size(), shown.size());

    FrameRateCounter counter;
    QTime lastTime;
    QList<int> actual;
    for (int t : times)
        actual << counter.tick(lastTime, timeOfDay(t));
    QCOMPARE(actual, shown);
}

void TestFrameRate::firstPaintStartsWindowAtItsTime()
{
    FrameRateCounter counter;
    QTime lastTime;
    QVERIFY(!lastTime.isValid());
    counter.tick(lastTime, QTime(12, 34, 56, 789));
    QCOMPARE(lastTime, QTime(12, 34, 56, 789));

    counter.tick(lastTime, QTime(12, 34, 57, 100));
    QCOMPARE(lastTime, QTime(12, 34, 56, 789));
}

void TestFrameRate::closingPaintStartsNextWindow()
{
    FrameRateCounter counter;
    QTime lastTime;
    counter.tick(lastTime, timeOfDay(0));
    QCOMPARE(counter.tick(lastTime, timeOfDay(1500)), 2);
    QCOMPARE(lastTime, timeOfDay(1500));
    // Measured from the closing paint at 1500, not from 1000 or 2000.
    QCOMPARE(counter.tick(lastTime, timeOfDay(2400)), 2);
    QCOMPARE(counter.tick(lastTime, timeOfDay(2499)), 2);
    QCOMPARE(counter.tick(lastTime, timeOfDay(2500)), 3);
}

QTEST_APPLESS_MAIN(TestFrameRate)

#include "tst_framerate.moc"
