// The one wait of the program over the real event loop and clock: it ends on what it waits for, on a
// stop, or at its deadline and never before it, and it sleeps in between rather than spinning.

#include "Clock.h"
#include "EventPump.h"
#include "FakeLink.h"

#include <QEventLoop>
#include <QPointer>
#include <QTest>
#include <QTimer>

using namespace tarvo;

class TestEventPump : public QObject {
    Q_OBJECT
private slots:
    // Deadlines shorter and longer than the pump's longest sleep, and one already past.
    void endsAtTheDeadlineNotBefore_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::newRow("past") << -0.001;
        QTest::newRow("under a millisecond") << 0.0004;
        QTest::newRow("5 ms") << 0.005;
        QTest::newRow("longer than one sleep") << 0.120;
    }
    void endsAtTheDeadlineNotBefore()
    {
        QFETCH(double, seconds);
        QtEventPump pump;
        SteadyClock clock;
        for (int i = 0; i < 3; ++i) { // again, once the pump has seen how late its sleeps end
            const double deadline = clock.now() + seconds;
            int passes = 0;
            QCOMPARE(pumpUntil(pump, clock, deadline, {}, [&] { return ++passes < 0; }), WaitEnd::TimedOut);
            QVERIFY(clock.now() > deadline);
            // It sleeps: a pass a sleep of at most 50 ms, a few more where a sleep ends early.
            QVERIFY2(passes <= 2 * (static_cast<int>(seconds / 0.050) + 3), qPrintable(QString::number(passes)));
        }
    }

    void anEventEndsTheWait()
    {
        QtEventPump pump;
        SteadyClock clock;
        bool came = false;
        QTimer::singleShot(10, [&] { came = true; });
        const double deadline = clock.now() + 5;
        QCOMPARE(pumpUntil(pump, clock, deadline, {}, [&] { return came; }), WaitEnd::Done);
        QVERIFY(clock.now() < deadline);
    }

    void aStopEndsTheWait()
    {
        QtEventPump pump;
        SteadyClock clock;
        std::stop_source stop;
        QTimer::singleShot(10, [&] { stop.request_stop(); });
        QCOMPARE(pumpUntil(pump, clock, clock.now() + 5, stop.get_token()), WaitEnd::Stopped);
    }

    // What the waiting code lets go of between its waits (the window drops an animation at every
    // layout it redoes) is freed by the next wait, whether the waits run from the top or inside an
    // event handler, as a cycle started by a click does: kept until the cycle ended, a long poll
    // held ever more of them, and each pass of the event loop walked them all again.
    void freesWhatTheWaitingCodeLetsGo_data()
    {
        QTest::addColumn<bool>("inHandler");
        QTest::newRow("from the top") << false;
        QTest::newRow("inside an event handler") << true;
    }
    void freesWhatTheWaitingCodeLetsGo()
    {
        QFETCH(bool, inHandler);
        QtEventPump pump;
        SteadyClock clock;
        QList<QPointer<QObject>> kept;
        const auto cycle = [&] {
            for (int i = 0; i < 3; ++i) {
                kept << new QObject;
                kept.last()->deleteLater();
                pumpUntil(pump, clock, clock.now() + 0.002);
            }
        };
        if (inHandler) {
            QEventLoop loop;
            QTimer::singleShot(0, &loop, [&] {
                cycle();
                loop.quit();
            });
            loop.exec();
        } else {
            cycle();
        }
        QCOMPARE(kept.size(), 3);
        for (const QPointer<QObject>& p : std::as_const(kept))
            QVERIFY(p.isNull());
    }

    // What a caller further down let go of before it started an event loop, inside which a wait
    // runs, may still be in its hands: it stays until that loop has returned.
    void keepsWhatACallerBelowLetGo()
    {
        QtEventPump pump;
        SteadyClock clock;
        QEventLoop outer;
        QPointer<QObject> held;
        bool heldThroughTheWait = false;
        QTimer::singleShot(0, &outer, [&] {
            held = new QObject;
            held->deleteLater();
            QEventLoop inner;
            QTimer::singleShot(0, &inner, [&] {
                pumpUntil(pump, clock, clock.now() + 0.005);
                heldThroughTheWait = !held.isNull();
                inner.quit();
            });
            inner.exec();
            outer.quit();
        });
        outer.exec();
        QVERIFY(heldThroughTheWait);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(held.isNull());
    }

    // Each pass runs the events, then tests the stop, then what is awaited, then the deadline, which
    // is asked afresh: a deadline moved during the wait applies at once.
    void orderOfAPass()
    {
        test::FakeClock clock;
        test::FakePump pump(clock);
        std::stop_source stop;
        double deadline = 0.100;
        pump.at(0.010, [&] { deadline = 0.020; });
        QCOMPARE(pumpUntil(pump, clock, [&] { return deadline; }), WaitEnd::TimedOut);
        QVERIFY(clock.t > 0.020 && clock.t < 0.030);

        // A stop that comes in the same pass as what was awaited wins.
        pump.at(clock.t + 0.005, [&] { stop.request_stop(); });
        QCOMPARE(pumpUntil(pump, clock, clock.t + 1, stop.get_token(), [] { return true; }), WaitEnd::Stopped);
    }
};

QTEST_GUILESS_MAIN(TestEventPump)
#include "tst_event_pump.moc"
