#include <lumora/controls/uo_ddlb.h>
#include <lumora/controls/uo_dh_edit.h>
#include <lumora/controls/uo_editmask.h>
#include <lumora/controls/uo_tooltip.h>

#include "uo_tooltip_window_p.h"

#include <rt/ui/handles.h>

#include <QApplication>
#include <QFontInfo>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using lumora::uo_tooltip;
using lumora::detail::tooltip_window;

namespace {

/// One of the three controls, reached through what they have in common.
struct control {
    QWidget* widget = nullptr;
    std::function<void(std::int16_t, uo_tooltip*, QString)> setup;
    QWidget* under_pointer = nullptr; // what the mouse moves reach: the widget, or its edit field
};

control make(const QString& kind, QWidget* parent)
{
    if (kind.startsWith(u"uo_ddlb")) {
        auto* c = new lumora::uo_ddlb(parent);
        c->addItems({u"语文"_qs, u"数学"_qs});
        c->setEditable(kind.endsWith(u"editable"));
        return {c,
                [c](std::int16_t t, uo_tooltip* s, QString tag) {
                    c->tooltiptype = t;
                    c->tooltip = s;
                    c->tag = tag;
                },
                c->isEditable() ? static_cast<QWidget*>(c->lineEdit()) : c};
    }
    if (kind == u"uo_dh_edit") {
        auto* c = new lumora::uo_dh_edit(parent);
        return {c, [c](std::int16_t t, uo_tooltip* s, QString tag) {
                    c->tooltiptype = t;
                    c->tooltip = s;
                    c->tag = tag;
                }};
    }
    auto* c = new lumora::uo_editmask(parent);
    c->setInputMask(u"9999-99-99"_qs);
    return {c, [c](std::int16_t t, uo_tooltip* s, QString tag) {
                c->tooltiptype = t;
                c->tooltip = s;
                c->tag = tag;
            }};
}

void move_mouse(QWidget* w, QPoint p)
{
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

tooltip_window* window_of(const uo_tooltip& tips)
{
    return qobject_cast<tooltip_window*>(
        rt::window_from_handle(static_cast<rt::handle>(tips.hwndtt())));
}

} // namespace

class tooltip_controls_test : public QObject {
    Q_OBJECT

    QWidget host;

private slots:
    void initTestCase()
    {
        host.resize(400, 300);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
    }

    void focus_colours_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QColor>("before");
        for (const char* kind : {"uo_ddlb", "uo_dh_edit", "uo_editmask"}) {
            QTest::addRow("%s from white", kind) << QString::fromLatin1(kind) << QColor(Qt::white);
            QTest::addRow("%s from red", kind) << QString::fromLatin1(kind) << QColor(Qt::red);
        }
    }
    void focus_colours()
    {
        QFETCH(QString, kind);
        QFETCH(QColor, before);
        const control c = make(kind, &host);
        std::unique_ptr<QWidget> owner(c.widget);
        QPalette p = c.widget->palette();
        p.setColor(QPalette::Base, before);
        p.setColor(QPalette::Button, before);
        c.widget->setPalette(p);
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(c.widget, &in);
        QCOMPARE(c.widget->palette().color(QPalette::Base), QColor(0, 255, 255));
        QCOMPARE(c.widget->palette().color(QPalette::Button), QColor(0, 255, 255));
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(c.widget, &out);
        QCOMPARE(c.widget->palette().color(QPalette::Base), QColor(255, 255, 255));
    }

    void mouse_moves_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("tooltiptype");
        QTest::addColumn<int>("expected_tools"); // -1: no tooltip window at all
        QTest::addColumn<bool>("balloon");
        for (const char* kind : {"uo_ddlb", "uo_ddlb editable", "uo_dh_edit", "uo_editmask"}) {
            const QString k = QString::fromLatin1(kind);
            QTest::addRow("%s without tooltip", kind) << k << 0 << -1 << false;
            QTest::addRow("%s normal, registered once", kind) << k << 1 << 1 << false;
            QTest::addRow("%s balloon, registered once", kind) << k << 2 << 1 << true;
        }
    }
    void mouse_moves()
    {
        QFETCH(QString, kind);
        QFETCH(int, tooltiptype);
        QFETCH(int, expected_tools);
        QFETCH(bool, balloon);
        const control c = make(kind, &host);
        std::unique_ptr<QWidget> owner(c.widget);
        c.widget->show();
        uo_tooltip tips;
        c.setup(static_cast<std::int16_t>(tooltiptype), &tips, u"请选择考试科目"_qs);
        QWidget* pointer = c.under_pointer ? c.under_pointer : c.widget;
        for (int x = 2; x < 12; x += 3)
            move_mouse(pointer, {x, 4});
        if (expected_tools < 0) {
            QCOMPARE(tips.hwndtt(), 0);
            QCOMPARE(tips.toolid(), 1);
            return;
        }
        tooltip_window* w = window_of(tips);
        QVERIFY(w);
        QCOMPARE(w->balloon(), balloon);
        QCOMPARE(w->window_proc(uo_tooltip::ttm_gettoolcount, 0, 0), expected_tools);

        // The tip the moves asked for appears over the control with the control's tag.
        w->window_proc(uo_tooltip::ttm_setdelaytime, 3, 1);
        QSignalSpy shown(w, &tooltip_window::tip_shown);
        move_mouse(pointer, {20, 5});
        QVERIFY(shown.wait());
        QCOMPARE(w->tip_text(), u"请选择考试科目"_qs);

        // A new tag, and new sizes, change the control's one tool in place.
        c.setup(static_cast<std::int16_t>(tooltiptype), &tips, u"新提示"_qs);
        move_mouse(pointer, {21, 5});
        QCOMPARE(w->tip_text(), u"新提示"_qs);
        for (int grow = 1; grow <= 20; ++grow) {
            c.widget->resize(c.widget->width() + 1, c.widget->height());
            move_mouse(pointer, {22, 5});
        }
        QCOMPARE(w->window_proc(uo_tooltip::ttm_gettoolcount, 0, 0), expected_tools);
        // The control takes its tool along.
        owner.reset();
        QCOMPARE(w->window_proc(uo_tooltip::ttm_gettoolcount, 0, 0), 0);
    }

    void no_service_assigned()
    {
        lumora::uo_dh_edit edit(&host);
        edit.tag = u"x"_qs;
        QCOMPARE(edit.mouse_move(0, 1, 1), 0L); // nothing to register with, and no fault
    }

    void painter_font_renders_chinese()
    {
        lumora::uo_dh_edit edit;
        QCOMPARE(edit.font().pointSize(), 12);
        QVERIFY(QFontMetrics(edit.font()).inFont(QChar(0x8003)));
    }
};

QTEST_MAIN(tooltip_controls_test)
#include "tooltip_controls_test.moc"
