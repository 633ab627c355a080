#include <lumora/timing/n_cst_tmgsingle.h>
#include <lumora/timing/n_tmg.h>

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using lumora::n_cst_tmgsingle;
using lumora::n_tmg;

// An object with a timer event; what the event does is set per test.
class client : public QObject {
    Q_OBJECT
public:
    std::function<void()> on_timer;
    int calls = 0;
public slots:
    void ue_timer()
    {
        ++calls;
        if (on_timer)
            on_timer();
        emit ticked();
    }
signals:
    void ticked();
};

class n_tmg_test : public QObject {
    Q_OBJECT

    // A timer with its service switched on.
    static std::unique_ptr<n_tmg> timer_with_service()
    {
        auto timer = std::make_unique<n_tmg>();
        timer->of_setsingle(true);
        return timer;
    }

private slots:
    void setSingleReportsWhetherThereWasSomethingToDo()
    {
        n_tmg timer;
        QCOMPARE(timer.of_setsingle(std::nullopt), -1);
        QCOMPARE(timer.of_setsingle(true), 1);
        QPointer<n_cst_tmgsingle> first = timer.inv_single();
        QCOMPARE(timer.of_setsingle(true), 0);
        QCOMPARE(timer.inv_single(), first.data());
        QCOMPARE(timer.of_setsingle(false), 1);
        QVERIFY(first.isNull());
        QCOMPARE(timer.of_setsingle(false), 0);
        QVERIFY(timer.inv_single() == nullptr);
    }

    void registerClampsTheInterval_data()
    {
        QTest::addColumn<float>("given");
        QTest::addColumn<float>("stored");
        QTest::newRow("below the minimum") << 0.01f << 0.055f;
        QTest::newRow("at the minimum") << 0.055f << 0.055f;
        QTest::newRow("one second") << 1.0f << 1.0f;
        QTest::newRow("at the maximum") << 65.0f << 65.0f;
        QTest::newRow("above the maximum") << 100.0f << 65.0f;
        QTest::newRow("negative") << -3.0f << 0.055f;
    }
    void registerClampsTheInterval()
    {
        QFETCH(float, given);
        QFETCH(float, stored);
        auto timer = timer_with_service();
        client c;
        QCOMPARE(timer->inv_single()->of_register(&c, QStringLiteral("ue_timer"), given), 1);
        QCOMPARE(timer->inv_single()->of_getinterval(), std::optional<float>(stored));
        QVERIFY(timer->running());
        QCOMPARE(timer->interval(), static_cast<double>(stored));
    }

    void registerRejectsAndChangesNothing_data()
    {
        QTest::addColumn<bool>("null_object");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("without_timer");
        QTest::newRow("null object") << true << "ue_other" << 1 << false;
        QTest::newRow("blank name") << false << "   " << 1 << false;
        QTest::newRow("empty name") << false << "" << 1 << false;
        QTest::newRow("style 2") << false << "ue_other" << 2 << false;
        QTest::newRow("style -1") << false << "ue_other" << -1 << false;
        QTest::newRow("no timer") << false << "ue_other" << 1 << true;
        // The object is checked before the name, the name before the style.
        QTest::newRow("null object and bad style") << true << "" << 7 << false;
    }
    void registerRejectsAndChangesNothing()
    {
        QFETCH(bool, null_object);
        QFETCH(QString, name);
        QFETCH(int, style);
        QFETCH(bool, without_timer);
        auto timer = timer_with_service();
        n_cst_tmgsingle orphan;
        n_cst_tmgsingle* single = without_timer ? &orphan : timer->inv_single();
        client first, second;
        if (!without_timer)
            QCOMPARE(single->of_register(&first, QStringLiteral("ue_timer"), 2.0f), 1);
        QCOMPARE(single->of_register(null_object ? nullptr : &second, name, 0.5f,
                                     static_cast<std::int16_t>(style)),
                 -1);
        QCOMPARE(single->of_isregistered(&first, QStringLiteral("ue_timer")), !without_timer);
        QVERIFY(!single->of_isregistered(&second));
        QCOMPARE(single->of_getinterval(), std::optional<float>(without_timer ? 0.0f : 2.0f));
        QCOMPARE(single->ii_notifystyle(), std::optional<std::int16_t>(0));
        QCOMPARE(timer->running(), !without_timer);
    }

    void registrationIsReplacedAndNormalised()
    {
        auto timer = timer_with_service();
        n_cst_tmgsingle* single = timer->inv_single();
        client first, second;
        QCOMPARE(single->of_register(&first, QStringLiteral("ue_timer"), 1.0f,
                                     n_cst_tmgsingle::postevent),
                 1);
        QCOMPARE(single->of_register(&second, QStringLiteral("  UE_Timer "), 3.0f), 1);
        QVERIFY(!single->of_isregistered(&first));
        QVERIFY(single->of_isregistered(&second, QStringLiteral("ue_TIMER  ")));
        QVERIFY(!single->of_isregistered(&second, QStringLiteral("  ")));
        QVERIFY(!single->of_isregistered(&second, QStringLiteral("ue_other")));
        QCOMPARE(single->is_notifyevent(), std::optional<QString>(QStringLiteral("ue_timer")));

        QObject* object = nullptr;
        std::optional<QString> name;
        std::optional<float> interval;
        std::optional<std::int16_t> style;
        QCOMPARE(single->of_getregistered(object, name, interval, style), 1);
        QCOMPARE(object, &second);
        QCOMPARE(interval, std::optional<float>(3.0f));
        // The three-argument form keeps the style of the replaced registration.
        QCOMPARE(style, std::optional<std::int16_t>(n_cst_tmgsingle::postevent));
    }

    void unregisterAndNothingRegistered()
    {
        auto timer = timer_with_service();
        n_cst_tmgsingle* single = timer->inv_single();
        timer->start(5.0);
        QCOMPARE(single->of_unregister(), 0);
        QVERIFY(timer->running()); // left as it was

        QObject* object = timer.get();
        std::optional<QString> name = QStringLiteral("x");
        std::optional<float> interval = 9.0f;
        std::optional<std::int16_t> style = 9;
        QCOMPARE(single->of_getregistered(object, name, interval, style), 0);
        QVERIFY(object == nullptr);
        QCOMPARE(name, std::optional<QString>(QString()));
        QCOMPARE(interval, std::optional<float>(0.0f));
        QCOMPARE(style, std::optional<std::int16_t>(0));
        QCOMPARE(single->of_getcount(), 0);

        client c;
        QCOMPARE(single->of_register(&c, QStringLiteral("ue_timer"), 1.0f), 1);
        QCOMPARE(single->of_getcount(), 1);
        QCOMPARE(single->of_unregister(), 1);
        QVERIFY(!timer->running());
        QCOMPARE(single->of_getinterval(), std::optional<float>(0.0f));

        n_cst_tmgsingle orphan;
        QCOMPARE(orphan.of_unregister(), -1);
        QCOMPARE(orphan.of_setrequestor(nullptr), -1);
    }

    void destroyedClientCountsAsUnregistered()
    {
        auto timer = timer_with_service();
        auto c = std::make_unique<client>();
        QCOMPARE(timer->inv_single()->of_register(c.get(), QStringLiteral("ue_timer"), 1.0f), 1);
        c.reset();
        QCOMPARE(timer->inv_single()->of_getcount(), 0);
        QCOMPARE(timer->inv_single()->zel_timer(), 1); // notifies nobody
    }

    void ticksNotifyTheRegisteredObject_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("trigger") << int(n_cst_tmgsingle::triggerevent);
        QTest::newRow("post") << int(n_cst_tmgsingle::postevent);
    }
    void ticksNotifyTheRegisteredObject()
    {
        QFETCH(int, style);
        auto timer = timer_with_service();
        client c;
        QSignalSpy ticks(&c, &client::ticked);
        QCOMPARE(timer->inv_single()->of_register(&c, QStringLiteral("UE_TIMER"), 0.055f,
                                                  static_cast<std::int16_t>(style)),
                 1);
        QVERIFY(ticks.wait(5000));
        QVERIFY(ticks.wait(5000));
        QVERIFY(c.calls >= 2);
    }

    void autoDisableBracketsTheImmediateNotification()
    {
        auto timer = timer_with_service();
        n_cst_tmgsingle* single = timer->inv_single();
        client c;
        bool disabled_inside = false;
        int nested = -1;
        c.on_timer = [&] {
            disabled_inside = single->of_isdisabled();
            nested = single->zel_timer(); // a tick arriving while the handler runs
            single->of_setdisabled(true);
        };
        QCOMPARE(single->of_register(&c, QStringLiteral("ue_timer"), 60.0f), 1);
        QCOMPARE(single->zel_timer(), 1);
        QCOMPARE(c.calls, 1);
        QVERIFY(disabled_inside);
        QCOMPARE(nested, 0);
        QVERIFY(!single->of_isdisabled()); // re-enabled although the handler disabled it
    }

    void queuedNotificationRunsLaterOutsideTheBracket()
    {
        auto timer = timer_with_service();
        n_cst_tmgsingle* single = timer->inv_single();
        client c;
        bool disabled_inside = true;
        c.on_timer = [&] { disabled_inside = single->of_isdisabled(); };
        QSignalSpy ticks(&c, &client::ticked);
        QCOMPARE(
            single->of_register(&c, QStringLiteral("ue_timer"), 60.0f, n_cst_tmgsingle::postevent),
            1);
        QCOMPARE(single->zel_timer(), 1);
        QCOMPARE(c.calls, 0);
        QVERIFY(ticks.wait(5000));
        QVERIFY(!disabled_inside);
    }

    void disabledServiceIgnoresTicks()
    {
        auto timer = timer_with_service();
        n_cst_tmgsingle* single = timer->inv_single();
        client c;
        QCOMPARE(single->of_register(&c, QStringLiteral("ue_timer"), 60.0f), 1);
        QCOMPARE(single->of_setdisabled(true), 1);
        QCOMPARE(single->zel_timer(), 0);
        QCOMPARE(c.calls, 0);
        QVERIFY(single->of_isdisabled());
        QVERIFY(timer->running());
        QCOMPARE(single->of_setdisabled(std::nullopt), -1);
        QCOMPARE(single->of_setautodisable(std::nullopt), -1);
        QCOMPARE(single->of_setdisabled(false), 1);
        QCOMPARE(single->of_setautodisable(false), 1);
        c.on_timer = [&] { QVERIFY(!single->of_isdisabled()); };
        QCOMPARE(single->zel_timer(), 1);
        QCOMPARE(c.calls, 1);
    }

    void nullAndUnknownEventsNotifyNobody()
    {
        auto timer = timer_with_service();
        n_cst_tmgsingle* single = timer->inv_single();
        client c;
        QCOMPARE(single->of_register(&c, std::nullopt, 1.0f), 1);
        QVERIFY(!single->of_isregistered(&c, std::nullopt));
        QCOMPARE(single->zel_timer(), 1);
        QCOMPARE(single->of_register(&c, QStringLiteral("ue_missing"), std::nullopt), 1);
        QVERIFY(!timer->running()); // a null interval cannot start it
        QCOMPARE(single->zel_timer(), 1);
        QCOMPARE(c.calls, 0);
    }

    void handlerMayDestroyTheTimerDuringTheNotification()
    {
        auto* timer = new n_tmg;
        timer->of_setsingle(true);
        QPointer<n_tmg> guard(timer);
        client c;
        QSignalSpy ticks(&c, &client::ticked);
        c.on_timer = [&] { delete guard.data(); };
        QCOMPARE(timer->inv_single()->of_register(&c, QStringLiteral("ue_timer"), 0.055f), 1);
        QVERIFY(ticks.wait(5000));
        QVERIFY(guard.isNull());
        QCOMPARE(c.calls, 1);
    }

    void destroyingTheTimerDestroysTheService()
    {
        auto timer = timer_with_service();
        QPointer<n_cst_tmgsingle> single = timer->inv_single();
        timer.reset();
        QVERIFY(single.isNull());
    }
};

QTEST_MAIN(n_tmg_test)
#include "n_tmg_test.moc"
