#include <lumora/controls/uo_tooltip.h>

#include "uo_tooltip_p.h"
#include "uo_tooltip_window_p.h"

#include <rt/ui/control_messages.h>
#include <rt/ui/handles.h>
#include <rt/ui/mouse_messages.h>

#include <rt/value/codepage.h>

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using lumora::uo_tooltip;
using lumora::detail::tooltip_window;

namespace {

tooltip_window* window_of(const uo_tooltip& tips)
{
    return qobject_cast<tooltip_window*>(
        rt::window_from_handle(static_cast<rt::handle>(tips.hwndtt())));
}

void relay_move(uo_tooltip& tips, QWidget* control, QPoint p)
{
    const rt::current_mouse_message_scope scope({0, rt::pack_point(p)});
    tips.showtip(control);
}

void set_delay(tooltip_window* w, int which, int ms)
{
    w->window_proc(uo_tooltip::ttm_setdelaytime, which, ms);
}

enum class hide_by {
    move_outside,
    display_time,
    button_press,
    leave_control,
    control_hidden,
    control_destroyed
};

} // namespace

Q_DECLARE_METATYPE(hide_by)

class uo_tooltip_test : public QObject {
    Q_OBJECT

    QWidget host;
    QLineEdit* first = nullptr;
    QLineEdit* second = nullptr;

private slots:
    void initTestCase()
    {
        host.resize(300, 200);
        first = new QLineEdit(&host);
        first->setGeometry(10, 10, 100, 30);
        second = new QLineEdit(&host);
        second->setGeometry(10, 50, 100, 30);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
    }

    void identifiers_data()
    {
        QTest::addColumn<QList<int>>("controls"); // 1: first, 2: second, 0: none
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("counted from 1 whatever the controls")
            << QList<int>{2, 1, 2} << QList<int>{1, 2, 3};
        QTest::newRow("the same control again gets a new tool")
            << QList<int>{1, 1} << QList<int>{1, 2};
        QTest::newRow("a refused tool uses up its identifier")
            << QList<int>{0, 1} << QList<int>{-1, 2};
    }
    void identifiers()
    {
        QFETCH(QList<int>, controls);
        QFETCH(QList<int>, expected);
        uo_tooltip tips;
        QCOMPARE(tips.hwndtt(), 0);
        QList<int> ids;
        for (int c : controls)
            ids << tips.controlregister(c == 1 ? first : c == 2 ? second : nullptr, u"提示"_qs, 0);
        QCOMPARE(ids, expected);
        QVERIFY(tips.hwndtt() > 0);
        QCOMPARE(tips.toolid(), controls.size() + 1);
    }

    void style_fixed_at_creation_data()
    {
        QTest::addColumn<int>("style_at_creation");
        QTest::addColumn<int>("style_later");
        QTest::newRow("normal stays normal") << 0 << 1;
        QTest::newRow("balloon stays balloon") << 1 << 0;
    }
    void style_fixed_at_creation()
    {
        QFETCH(int, style_at_creation);
        QFETCH(int, style_later);
        uo_tooltip tips;
        tips.tipstyle = static_cast<std::int16_t>(style_at_creation);
        QCOMPARE(tips.controlregister(first, u"a"_qs, 0), 1);
        const auto handle = tips.hwndtt();
        tips.tipstyle = static_cast<std::int16_t>(style_later);
        QCOMPARE(tips.controlregister(second, u"b"_qs, 0), 2);
        QCOMPARE(tips.hwndtt(), handle);
        QVERIFY(window_of(tips));
        QCOMPARE(window_of(tips)->balloon(), style_at_creation == 1);
    }

    void shown_after_delay_and_hidden_data()
    {
        QTest::addColumn<hide_by>("how");
        QTest::newRow("pointer moves off the tool") << hide_by::move_outside;
        QTest::newRow("display time over") << hide_by::display_time;
        QTest::newRow("button pressed") << hide_by::button_press;
        QTest::newRow("pointer leaves the control") << hide_by::leave_control;
        QTest::newRow("control hidden") << hide_by::control_hidden;
        QTest::newRow("control destroyed") << hide_by::control_destroyed;
    }
    void shown_after_delay_and_hidden()
    {
        QFETCH(hide_by, how);
        auto owned = std::make_unique<QLineEdit>(&host);
        QLineEdit& control = *owned;
        control.setGeometry(150, 10, 100, 30);
        control.show();
        uo_tooltip tips;
        QCOMPARE(tips.controlregister(&control, u"准考证号"_qs, 0), 1);
        tooltip_window* w = window_of(tips);
        QVERIFY(w);
        set_delay(w, 3, 30);
        set_delay(w, 2, how == hide_by::display_time ? 60 : 30000);
        QSignalSpy shown(w, &tooltip_window::tip_shown);
        QSignalSpy hidden(w, &tooltip_window::tip_hidden);

        relay_move(tips, &control, {5, 5});
        QCOMPARE(shown.count(), 0); // not before the initial delay
        QVERIFY(shown.wait());
        QCOMPARE(shown.at(0).at(0).toUInt(), 1u);
        QVERIFY(w->isVisible());
        QCOMPARE(w->tip_text(), u"准考证号"_qs);
        relay_move(tips, &control, {8, 6}); // moving within the tool keeps the tip
        QCOMPARE(hidden.count(), 0);

        switch (how) {
        case hide_by::move_outside:
            relay_move(tips, &control, {500, 5});
            break;
        case hide_by::display_time:
            QVERIFY(hidden.wait());
            relay_move(tips, &control, {9, 9}); // a timed-out tip stays away while inside
            QVERIFY(!shown.wait(100));
            break;
        case hide_by::button_press: {
            const lumora::uo_tooltip::msg m{lumora::detail::handle_of(&control), rt::wm_lbuttondown,
                                            1, 0};
            w->window_proc(uo_tooltip::ttm_relayevent, 0, reinterpret_cast<std::intptr_t>(&m));
            break;
        }
        case hide_by::leave_control: {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(&control, &leave);
            break;
        }
        case hide_by::control_hidden:
            control.hide();
            break;
        case hide_by::control_destroyed:
            owned.reset();
            break;
        }
        QCOMPARE(hidden.count(), 1);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->shown_tool(), 0u);
    }

    void next_tool_after_short_delay_data()
    {
        QTest::addColumn<bool>("leave_first"); // as a real pointer does, before the next enters
        QTest::newRow("straight from the tip") << false;
        QTest::newRow("leaving the first control first") << true;
    }
    void next_tool_after_short_delay()
    {
        QFETCH(bool, leave_first);
        uo_tooltip tips;
        tips.controlregister(first, u"一"_qs, 0);
        tips.controlregister(second, u"二"_qs, 0);
        tooltip_window* w = window_of(tips);
        set_delay(w, 3, 20);
        set_delay(w, 1, 10);
        QSignalSpy shown(w, &tooltip_window::tip_shown);
        relay_move(tips, first, {3, 3});
        QVERIFY(shown.wait());
        // From now on only the short delay can show a tip within the wait below.
        set_delay(w, 3, 5000);
        set_delay(w, 1, 10);
        if (leave_first) {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(first, &leave);
            QVERIFY(!w->isVisible());
        }
        relay_move(tips, second, {3, 3});
        QVERIFY(shown.wait(1000));
        QCOMPARE(shown.at(1).at(0).toUInt(), 2u);
        QCOMPARE(w->tip_text(), u"二"_qs);
    }

    void balloon_stem_stays_on_the_pointer_at_the_screen_edge()
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget edge(nullptr, Qt::FramelessWindowHint);
        edge.setGeometry(screen.right() - 40, screen.top() + 100, 40, 30);
        edge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edge));
        uo_tooltip tips;
        tips.tipstyle = uo_tooltip::style_balloontip;
        tips.controlregister(&edge, u"靠近屏幕右边的提示文字"_qs, 0);
        tooltip_window* w = window_of(tips);
        set_delay(w, 3, 1);
        QSignalSpy shown(w, &tooltip_window::tip_shown);
        const QPoint at(30, 10);
        relay_move(tips, &edge, at);
        QVERIFY(shown.wait());
        QVERIFY(w->geometry().right() <= screen.right());
        QCOMPARE(w->geometry().topLeft() + w->stem_tip(), edge.mapToGlobal(at));
        QVERIFY(w->mask().contains(w->stem_tip()));
    }

    void tip_text_cut_data()
    {
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short text whole") << u"姓名 Name"_qs << u"姓名 Name"_qs;
        QTest::newRow("latin cut to 80 characters") << QString(100, u'x') << QString(80, u'x');
        QTest::newRow("chinese cut to 40 characters, 80 bytes")
            << QString(60, QChar(0x8003)) << QString(40, QChar(0x8003));
        QTest::newRow("odd byte left over: no half character")
            << u"a"_qs + QString(60, QChar(0x8003)) << u"a"_qs + QString(39, QChar(0x8003));
        QTest::newRow("character outside the code page is one byte")
            << u"考\U0001F600"_qs << u"考?"_qs;
    }
    void tip_text_cut()
    {
        QFETCH(QString, tip);
        QFETCH(QString, expected);
        const QByteArray block = lumora::detail::tip_text_block(tip);
        QVERIFY(block.size() <= uo_tooltip::tip_text_bytes);
        QCOMPARE(rt::from_ansi(block), expected);

        uo_tooltip tips;
        tips.controlregister(first, tip, 0);
        tooltip_window* w = window_of(tips);
        set_delay(w, 3, 1);
        QSignalSpy shown(w, &tooltip_window::tip_shown);
        relay_move(tips, first, {2, 2});
        QVERIFY(shown.wait());
        QCOMPARE(w->tip_text(), expected);
        // The tip is wide enough for its text: nothing is clipped.
        QVERIFY(w->width() > QFontMetrics(w->font()).horizontalAdvance(expected));
    }

    void destroying_the_service_removes_every_tip()
    {
        QPointer<tooltip_window> w;
        {
            uo_tooltip tips;
            tips.controlregister(first, u"a"_qs, 0);
            tips.controlregister(second, u"b"_qs, 0);
            w = window_of(tips);
            set_delay(w, 3, 1);
            QSignalSpy shown(w.data(), &tooltip_window::tip_shown);
            relay_move(tips, first, {2, 2});
            QVERIFY(shown.wait());
        }
        QVERIFY(w.isNull());
    }
};

QTEST_MAIN(uo_tooltip_test)
#include "uo_tooltip_test.moc"
