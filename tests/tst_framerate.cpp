// SPDX-License-Identifier: MIT
#include "overlay.h"

#include <QPainter>
#include <QTime>
#include <QtTest>

#include <ctime>
#include <functional>

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
    void readoutDrawsAsDrawText();
    void clockReadsTheLocalTimeOfDay();
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

// The readout keeps its text laid out between paints: it must still draw what
// drawText draws of each new value and font, and stay in the area the view
// repaints for it.
void TestFrameRate::readoutDrawsAsDrawText()
{
    const QFont normal = QGuiApplication::font();
    QFont large = normal;
    large.setPointSizeF(normal.pointSizeF() * 2);
    const struct
    {
        int fps;
        QFont font;
    } steps[] = {{0, normal},    {25, normal},        {25, large},        {7, large},
                 {1000, normal}, {123456789, normal}, {123456789, large}, {-1, normal}};

    FrameRateReadout readout;
    for (const auto &step : steps) {
        auto render = [&step](const std::function<void(QPainter &)> &draw) {
            QImage image(400, 80, QImage::Format_RGB32);
            image.fill(Qt::black);
            QPainter painter(&image);
            painter.setFont(step.font);
            draw(painter);
            return image;
        };
        const QImage actual = render([&](QPainter &painter) { readout.draw(painter, step.fps); });
        const QImage expected = render([&](QPainter &painter) {
            painter.setPen(QPen(QBrush(Qt::green, Qt::SolidPattern), 2.0));
            painter.drawText(QPointF(15.0, 25.0), QString::asprintf("%d FPS", step.fps));
        });
        const QString what = QString("%1 FPS in %2").arg(step.fps).arg(step.font.toString());
        QVERIFY2(actual == expected, qPrintable(what));
        const QRect area = readout.area(step.font);
        for (int y = 0; y < actual.height(); ++y) {
            for (int x = 0; x < actual.width(); ++x) {
                if (actual.pixel(x, y) != qRgb(0, 0, 0) && !area.contains(x, y))
                    QFAIL(qPrintable(what + QString(": (%1, %2) outside").arg(x).arg(y)));
            }
        }
    }
}

void TestFrameRate::clockReadsTheLocalTimeOfDay()
{
    TimeOfDayClock clock;
    const QTime before = QTime::currentTime();
    const QTime now = clock.now();
    const QTime after = QTime::currentTime();
    // Unless midnight came in between.
    QVERIFY2((before <= now && now <= after) || after < before,
             qPrintable(before.toString("HH:mm:ss.zzz ") + now.toString("HH:mm:ss.zzz ")
                        + after.toString("HH:mm:ss.zzz")));

#ifdef Q_OS_WIN
    QSKIP("the zone is changed through TZ, as on POSIX systems");
#else
    // The zone's offset is looked up again a second later, not sooner.
    const qint64 noon = QDateTime(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "UTC0");
    tzset();
    QCOMPARE(clock.at(noon), QTime(12, 0));
    qputenv("TZ", "IST-5:30");
    tzset();
    QCOMPARE(clock.at(noon + 999), QTime(12, 0, 0, 999));
    QCOMPARE(clock.at(noon + 1000), QTime(17, 30, 1));
    QCOMPARE(clock.at(noon - 18 * 3600 * 1000), QTime(23, 30)); // the day before
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
#endif
}

QTEST_MAIN(TestFrameRate)

#include "tst_framerate.moc"
