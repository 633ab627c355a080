#include <rt/ui/control_messages.h>
#include <rt/ui/handles.h>
#include <rt/ui/window_messages.h>

#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

// A window procedure that records what reaches it and answers with a computed reply.
struct recording_target : rt::message_target {
    std::uint32_t last_message = 0;
    rt::wparam last_w = 0;
    rt::lparam last_l = 0;
    rt::lresult window_proc(std::uint32_t message, rt::wparam w, rt::lparam l) override
    {
        last_message = message;
        last_w = w;
        last_l = l;
        if (message == rt::sb_getrect) { // fills a rectangle given by address
            *rt::lparam_to<rt::rect32>(l) = {1, 2, 3, 4};
            return 1;
        }
        return static_cast<rt::lresult>(w) + l;
    }
};

} // namespace

class handles_test : public QObject {
    Q_OBJECT

private slots:
    void messagesReachTheTargetUntilTheWindowIsDestroyed()
    {
        recording_target target;
        auto widget = std::make_unique<QWidget>();
        const rt::handle h = rt::register_window(widget.get(), &target);
        QVERIFY(h != 0);
        QCOMPARE(rt::register_window(widget.get()), h); // registered once, target kept
        QCOMPARE(rt::handle_of(widget.get()), h);
        QCOMPARE(rt::kind_of(h), rt::handle_kind::window);
        QCOMPARE(rt::window_from_handle(h), widget.get());
        QVERIFY(rt::menu_from_handle(h) == nullptr);

        QCOMPARE(rt::send_message(h, rt::sb_settext, 40, 2), rt::lresult{42});
        QCOMPARE(target.last_message, rt::sb_settext);
        rt::rect32 r;
        QCOMPARE(rt::send_message(h, rt::sb_getrect, 0, rt::lparam_from(&r)), rt::lresult{1});
        QCOMPARE(r.right, 3);

        widget.reset();
        target.last_message = 0;
        QCOMPARE(rt::send_message(h, rt::sb_settext, 40, 2), rt::lresult{0});
        QCOMPARE(target.last_message, std::uint32_t{0});
        QCOMPARE(rt::kind_of(h), rt::handle_kind::none);
        QVERIFY(rt::window_from_handle(h) == nullptr);
    }

    void unregisteredHandlesAreNeverReused()
    {
        QWidget first;
        const rt::handle h = rt::register_window(&first);
        QVERIFY(rt::unregister_handle(h));
        QVERIFY(!rt::unregister_handle(h));
        QCOMPARE(rt::handle_of(&first), rt::handle{0});
        QCOMPARE(rt::send_message(h, 1, 0, 0), rt::lresult{0});
        const rt::handle again = rt::register_window(&first);
        QVERIFY(again != h && again != 0);
        QVERIFY(again < 0x80000000u);
    }

    void menusHaveHandlesOfTheirOwnKind()
    {
        auto menu = std::make_unique<QMenu>();
        const rt::handle h = rt::register_menu(menu.get());
        QCOMPARE(rt::kind_of(h), rt::handle_kind::menu);
        QCOMPARE(rt::menu_from_handle(h), menu.get());
        QVERIFY(rt::window_from_handle(h) == nullptr);
        QCOMPARE(rt::send_message(h, 1, 2, 3), rt::lresult{0});
        menu.reset();
        QVERIFY(rt::menu_from_handle(h) == nullptr);
    }

    void loadIcon_data()
    {
        QTest::addColumn<QString>("format"); // empty: no file at all
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("loads");
        QTest::newRow("png scaled down") << "png" << 32 << true;
        QTest::newRow("ico at the requested size") << "ico" << 16 << true;
        QTest::newRow("missing file") << "" << 16 << false;
        QTest::newRow("not an image") << "txt" << 16 << false;
    }
    void loadIcon()
    {
        QFETCH(QString, format);
        QFETCH(int, side);
        QFETCH(bool, loads);
        QTemporaryDir dir;
        const QString path = dir.filePath("icon." + (format.isEmpty() ? "png" : format));
        if (format == "txt") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("no image here");
        } else if (!format.isEmpty()) {
            QImage image(side, side, QImage::Format_ARGB32);
            image.fill(Qt::red);
            QVERIFY(image.save(path, format.toLatin1().constData()));
        }
        const rt::handle h = rt::load_icon(path, 16, 16);
        QCOMPARE(h != 0, loads);
        if (!loads)
            return;
        QCOMPARE(rt::kind_of(h), rt::handle_kind::icon);
        const QImage shown = rt::icon_from_handle(h).pixmap(16, 16).toImage();
        QCOMPARE(shown.size(), QSize(16, 16));
        QCOMPARE(QColor(shown.pixel(8, 8)), QColor(Qt::red));
        QVERIFY(rt::destroy_icon(h));
        QVERIFY(!rt::destroy_icon(h));
        QVERIFY(rt::icon_from_handle(h).isNull());
    }
};

QTEST_MAIN(handles_test)
#include "handles_test.moc"
