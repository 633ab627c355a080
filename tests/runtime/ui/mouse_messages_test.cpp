#include <rt/ui/control_messages.h>
#include <rt/ui/mouse_messages.h>

#include <QMouseEvent>
#include <QTest>

class mouse_messages_test : public QObject {
    Q_OBJECT

private slots:
    void pointsPackIntoSignedWords_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<quint32>("packed");
        QTest::addColumn<QPoint>("unpacked");
        QTest::newRow("origin") << QPoint(0, 0) << 0u << QPoint(0, 0);
        QTest::newRow("x low, y high") << QPoint(3, 5) << 0x00050003u << QPoint(3, 5);
        QTest::newRow("left of and above the client area")
            << QPoint(-1, -2) << 0xfffeffffu << QPoint(-1, -2);
        QTest::newRow("16-bit extremes")
            << QPoint(32767, -32768) << 0x80007fffu << QPoint(32767, -32768);
        QTest::newRow("beyond 16 bits wraps")
            << QPoint(70000, 32768) << 0x80001170u << QPoint(4464, -32768);
    }
    void pointsPackIntoSignedWords()
    {
        QFETCH(QPoint, point);
        QFETCH(quint32, packed);
        QFETCH(QPoint, unpacked);
        QCOMPARE(static_cast<quint32>(rt::pack_point(point)), packed);
        QCOMPARE(rt::unpack_point(rt::pack_point(point)), unpacked);
    }

    void keyFlagsNameButtonsAndModifiers_data()
    {
        QTest::addColumn<Qt::MouseButtons>("buttons");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<quint32>("flags");
        QTest::newRow("nothing held") << Qt::MouseButtons() << Qt::KeyboardModifiers() << 0u;
        QTest::newRow("left button")
            << Qt::MouseButtons(Qt::LeftButton) << Qt::KeyboardModifiers() << rt::mk_lbutton;
        QTest::newRow("right button with shift")
            << Qt::MouseButtons(Qt::RightButton) << Qt::KeyboardModifiers(Qt::ShiftModifier)
            << (rt::mk_rbutton | rt::mk_shift);
        QTest::newRow("middle button with control")
            << Qt::MouseButtons(Qt::MiddleButton) << Qt::KeyboardModifiers(Qt::ControlModifier)
            << (rt::mk_mbutton | rt::mk_control);
        QTest::newRow("alt and extra buttons have no flag")
            << Qt::MouseButtons(Qt::BackButton) << Qt::KeyboardModifiers(Qt::AltModifier) << 0u;
        QTest::newRow("everything") << (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton)
                                    << (Qt::ShiftModifier | Qt::ControlModifier) << 0x1fu;
    }
    void keyFlagsNameButtonsAndModifiers()
    {
        QFETCH(Qt::MouseButtons, buttons);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(quint32, flags);
        QCOMPARE(rt::key_flags(buttons, modifiers), flags);
        const QMouseEvent event(QEvent::MouseMove, QPointF(-4, 9), QPointF(-4, 9), Qt::NoButton,
                                buttons, modifiers);
        const rt::mouse_message m = rt::mouse_message_of(event);
        QCOMPARE(m.wparam, flags);
        QCOMPARE(rt::unpack_point(m.lparam), QPoint(-4, 9));
    }

    void currentMessageScopesNest()
    {
        QVERIFY(!rt::current_mouse_message());
        {
            const rt::current_mouse_message_scope outer({rt::mk_lbutton, 1});
            {
                const rt::current_mouse_message_scope inner({rt::mk_rbutton, 2});
                QCOMPARE(rt::current_mouse_message()->lparam, 2);
            }
            QCOMPARE(rt::current_mouse_message()->wparam, rt::mk_lbutton);
            QCOMPARE(rt::current_mouse_message()->lparam, 1);
        }
        QVERIFY(!rt::current_mouse_message());
    }
};

QTEST_MAIN(mouse_messages_test)
#include "mouse_messages_test.moc"
