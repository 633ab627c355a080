// The status bar on the offscreen platform: parts, rectangles, hit test, texts, icons, colours,
// menu help from real menu highlighting, and its timer.

#include <lumora/controls/u_statusbar.h>
#include <lumora/menu/menu.h>
#include <lumora/timing/n_tmg.h>

#include <rt/ui/handles.h>
#include <rt/ui/units.h>
#include <rt/ui/window_messages.h>

#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using lumora::menu;
using lumora::u_statusbar;

namespace {

// A plain window 400 pixels wide with a status bar of parts ending at 100, 250 and the border.
struct bar_window {
    QWidget window;
    u_statusbar* bar = new u_statusbar(&window);
    bar_window()
    {
        window.resize(400, 300);
        bar->of_setparts({100, 250, -1});
        window.show();
    }
};

} // namespace

class u_statusbar_test : public QObject {
    Q_OBJECT

private slots:
    void staysAlongTheBottomOfItsParent()
    {
        bar_window w;
        QCOMPARE(w.bar->geometry().bottom(), 299);
        QCOMPARE(w.bar->width(), 400);
        w.bar->setGeometry(10, 10, 50, 50);
        QCOMPARE(w.bar->geometry().bottom(), 299);
        w.window.resize(500, 200);
        QCOMPARE(w.bar->geometry(), QRect(0, 200 - w.bar->height(), 500, w.bar->height()));
        QCOMPARE(w.bar->iw_parent(), &w.window);

        QSignalSpy refreshed(w.bar, &u_statusbar::ue_refreshstatusbar);
        w.bar->ue_refresh();
        QCOMPARE(w.bar->width(), 500);
        QCOMPARE(refreshed.count(), 3);
        QCOMPARE(refreshed.at(2).at(0).value<std::int16_t>(), std::int16_t{2});
    }

    void aLayoutPlacesItAndMinimumHeightWaitsForTheNextLayout()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QWidget(&window), 1);
        auto* bar = new u_statusbar(&window);
        layout->addWidget(bar);
        window.resize(300, 200);
        window.show();
        QTRY_COMPARE(bar->geometry().bottom(), 199);
        QCOMPARE(bar->width(), 300);
        const QRect placed = bar->geometry();
        bar->ue_refresh();
        QCOMPARE(bar->geometry(), placed);

        bar_window w;
        const int before = w.bar->height();
        const auto h = static_cast<rt::handle>(w.bar->il_hstatusbar());
        rt::send_message(h, u_statusbar::sb_setminheight, 60, 0);
        QCOMPARE(w.bar->height(), before);
        w.bar->ue_refresh();
        QCOMPARE(w.bar->height(), 64); // the minimum plus the two vertical borders
        QCOMPARE(w.bar->geometry().bottom(), 299);
    }

    void partTips()
    {
        bar_window w;
        const auto h = static_cast<rt::handle>(w.bar->il_hstatusbar());
        QCOMPARE(rt::send_message(h, u_statusbar::sb_settiptext, 1, rt::lparam_from("¿¼")),
                 rt::lresult{1});
        QCOMPARE(rt::send_message(h, u_statusbar::sb_settiptext, 9, rt::lparam_from("x")),
                 rt::lresult{0});
        char tip[8] = "-------";
        rt::send_message(h, u_statusbar::sb_gettiptext, rt::make_long(1, sizeof tip),
                         rt::lparam_from(tip));
        QCOMPARE(QByteArray(tip), QByteArray("¿¼"));
        char small[2] = "-";
        rt::send_message(h, u_statusbar::sb_gettiptext, rt::make_long(1, sizeof small),
                         rt::lparam_from(small));
        QCOMPARE(QByteArray(small), QByteArray()); // never half a character
    }

    void partRectangles()
    {
        bar_window w;
        const int h = w.bar->height();
        const int expected[][4] = {{0, 100, 2, h}, {100, 250, 2, h}, {250, 400, 2, h}};
        for (int k = 0; k < 3; ++k) {
            std::int32_t top = -9, left = -9, right = -9, bottom = -9;
            QVERIFY(w.bar->of_getrect(k, top, left, right, bottom));
            QCOMPARE(left, expected[k][0]);
            QCOMPARE(right, expected[k][1]);
            QCOMPARE(top, expected[k][2]);
            QCOMPARE(bottom, expected[k][3]);
        }
        std::int32_t top = -9, left = -9, right = -9, bottom = -9;
        QVERIFY(!w.bar->of_getrect(3, top, left, right, bottom));
        QCOMPARE(left, -9);
        std::int32_t hb = 0, vb = 0, sep = 0;
        QVERIFY(w.bar->of_getborders(hb, vb, sep));
        QCOMPARE(vb, 2);
        QCOMPARE(sep, 2);
    }

    void hitTestAndDoubleClick_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("part");
        QTest::newRow("left edge") << QPoint(0, 10) << 0;
        QTest::newRow("shared edge belongs to the lower part") << QPoint(100, 10) << 0;
        QTest::newRow("just after the edge") << QPoint(101, 10) << 1;
        QTest::newRow("last part to the border") << QPoint(399, 10) << 2;
        QTest::newRow("above the top border") << QPoint(50, 1) << -1;
        QTest::newRow("right of every part") << QPoint(401, 10) << -1;
        QTest::newRow("left of every part") << QPoint(-1, 10) << -1;
    }
    void hitTestAndDoubleClick()
    {
        QFETCH(QPoint, point);
        QFETCH(int, part);
        bar_window w;
        QCOMPARE(w.bar->of_getpart(static_cast<std::int16_t>(point.x()),
                                   static_cast<std::int16_t>(point.y())),
                 part);
        QSignalSpy clicked(w.bar, &u_statusbar::ue_doubleclicked);
        w.bar->doubleclicked(0, rt::pixels_to_units_x(point.x()), rt::pixels_to_units_y(point.y()));
        QCOMPARE(clicked.count(), part == -1 ? 0 : 1);
        if (part != -1)
            QCOMPARE(clicked.at(0).at(0).value<std::int16_t>(), static_cast<std::int16_t>(part));
    }

    void realDoubleClickReachesThePart()
    {
        bar_window w;
        QSignalSpy clicked(w.bar, &u_statusbar::ue_doubleclicked);
        QTest::mouseDClick(w.bar, Qt::LeftButton, {}, QPoint(180, 10));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).value<std::int16_t>(), std::int16_t{1});
    }

    void parts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("one") << 1 << true;
        QTest::newRow("128, one reading") << 128 << true;
        QTest::newRow("200, more than one reading holds") << 200 << true;
        QTest::newRow("256, the most") << 256 << true;
        QTest::newRow("257, too many") << 257 << false;
    }
    void parts()
    {
        QFETCH(int, count);
        QFETCH(bool, accepted);
        bar_window w;
        std::vector<std::int32_t> edges;
        edges.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
        for (int i = 0; i < count; ++i)
            edges.push_back(i + 1 == count ? -1 : 3 * (i + 1));
        QCOMPARE(w.bar->of_setparts(edges), accepted);
        std::vector<std::int32_t> read(300, 7); // entries after the count stay as they were
        const std::int32_t expected_count = accepted ? count : 3;
        QCOMPARE(w.bar->of_getparts(read), expected_count);
        QCOMPARE(read.size(), std::size_t{300});
        QCOMPARE(read[static_cast<std::size_t>(expected_count) - 1], -1);
        QCOMPARE(read[static_cast<std::size_t>(expected_count)], 7);
        if (accepted)
            QVERIFY(std::equal(edges.begin(), edges.end(), read.begin()));
    }

    void texts_data()
    {
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("length"); // bytes of the ANSI code page
        QTest::newRow("plain") << 0 << 0 << "就绪" << true << 4;
        QTest::newRow("pop-out style") << 1 << 0x200 << "ab\tcd" << true << 5;
        QTest::newRow("longer than 255 bytes")
            << 2 << 0 << QString(300, QChar(0x4e2d)) << true << 600;
        QTest::newRow("no such part") << 3 << 0 << "x" << false << 0;
        QTest::newRow("simple mode's text") << 255 << 0 << "简单" << true << 4;
        QTest::newRow("-1 names the simple mode's part") << -1 << 0 << "简单" << true << 4;
        // Part and style share one parameter: these must not reach another part as a style.
        QTest::newRow("part beyond a byte") << 0x1000 << 0 << "x" << false << 0;
        QTest::newRow("below -1") << -2 << 0 << "x" << false << 0;
        QTest::newRow("style with part bits") << 0 << 0x101 << "x" << false << 0;
    }
    void texts()
    {
        QFETCH(int, part);
        QFETCH(int, style);
        QFETCH(QString, text);
        QFETCH(bool, stored);
        QFETCH(int, length);
        bar_window w;
        const auto p = static_cast<std::int16_t>(part);
        QCOMPARE(w.bar->of_settext(p, static_cast<std::int16_t>(style), text), stored);
        QCOMPARE(w.bar->of_gettextlength(p), length);
        // A part that exists keeps its empty text; reading one that does not leaves the blanks.
        const QString untouched = part >= 0 && part < 3 ? QString() : QString(255, u' ');
        QCOMPARE(w.bar->of_gettext(p), stored ? text : untouched);
        const auto style_of = [&w](int shown) {
            return rt::high_word(static_cast<std::uintptr_t>(rt::send_message(
                static_cast<rt::handle>(w.bar->il_hstatusbar()), u_statusbar::sb_gettextlength,
                static_cast<rt::wparam>(shown), 0)));
        };
        if (stored) // the style comes back in the high word
            QCOMPARE(style_of(part == -1 ? 255 : part), style);
        for (const int other : {0, 1, 2, 255}) // no part became owner-drawn by the way
            QVERIFY((style_of(other) & u_statusbar::sbt_ownerdraw) == 0);
    }

    void ownerDrawnPartsArePaintedByTheHost()
    {
        bar_window w;
        QByteArray seen;
        QRect seen_rect;
        connect(w.bar, &u_statusbar::drawitem, w.bar,
                [&](std::int16_t part, QPainter* painter, const QRect& rect, quintptr data) {
                    QCOMPARE(part, std::int16_t{1});
                    seen = reinterpret_cast<const char*>(data);
                    seen_rect = rect;
                    painter->fillRect(rect, Qt::green);
                });
        QVERIFY(w.bar->of_settext(1, u_statusbar::sbt_ownerdraw, QStringLiteral("自绘")));
        QCOMPARE(w.bar->of_gettext(1), QString());
        const QImage image = w.bar->grab().toImage();
        QCOMPARE(seen, QByteArray("\xd7\xd4\xbb\xe6")); // the text in code page 936
        QVERIFY(seen_rect.left() > 100 && seen_rect.right() < 250);
        QCOMPARE(QColor(image.pixel(seen_rect.center())), QColor(Qt::green));
    }

    void simpleMode()
    {
        bar_window w;
        QVERIFY(!w.bar->of_issimple());
        QVERIFY(w.bar->of_setsimple(true));
        QVERIFY(w.bar->of_issimple());
        std::int32_t top = 0, left = 0, right = 0, bottom = 0;
        QVERIFY(w.bar->of_getrect(1, top, left, right, bottom));
        QCOMPARE(left, 0);
        QCOMPARE(right, 400);
        QCOMPARE(w.bar->of_getpart(300, 10), std::int16_t{0});
        QVERIFY(w.bar->of_setsimple(std::nullopt)); // null switches it off
        QVERIFY(!w.bar->of_issimple());
    }

    void iconsAndColours()
    {
        QTemporaryDir dir;
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(QColor(0, 0, 255));
        const QString file = dir.filePath(QStringLiteral("blue.png"));
        QVERIFY(image.save(file));
        QCOMPARE(u_statusbar::of_loadicon(dir.filePath(QStringLiteral("missing.ico"))), 0u);
        const std::uint32_t icon = u_statusbar::of_loadicon(file);
        QVERIFY(icon != 0);

        bar_window w;
        QVERIFY(w.bar->of_seticon(1, static_cast<std::int32_t>(icon)));
        QVERIFY(!w.bar->of_seticon(5, static_cast<std::int32_t>(icon)));
        QCOMPARE(w.bar->of_geticon(1), static_cast<std::int32_t>(icon));
        QCOMPARE(w.bar->of_geticon(0), 0);
        QCOMPARE(w.bar->of_setbackgroundcolor(0x0000ff), u_statusbar::clr_default);
        QCOMPARE(w.bar->of_setbackgroundcolor(0x00ff00), 0x0000ffu);

        const QImage shown = w.bar->grab().toImage();
        const int middle = w.bar->height() / 2;
        QCOMPARE(QColor(shown.pixel(108, middle)), QColor(0, 0, 255)); // the icon in part 1
        QCOMPARE(QColor(shown.pixel(60, middle)), QColor(0, 255, 0));  // background (BGR)
        QVERIFY(w.bar->of_seticon(1, 0));
        QCOMPARE(QColor(w.bar->grab().toImage().pixel(108, middle)), QColor(0, 255, 0));

        // Loads of one file share one icon, released with the last of them.
        QCOMPARE(u_statusbar::of_loadicon(file), icon);
        QVERIFY(u_statusbar::of_releaseicon(icon));
        QCOMPARE(rt::kind_of(icon), rt::handle_kind::icon);
        QVERIFY(u_statusbar::of_releaseicon(icon));
        QCOMPARE(rt::kind_of(icon), rt::handle_kind::none);
        QVERIFY(!u_statusbar::of_releaseicon(icon));
    }

    void menuHelpFollowsTheHighlightedItem()
    {
        QMainWindow window;
        window.resize(500, 300);
        menu root;
        menu* file = root.add_item(QStringLiteral("文件(&F)"), QStringLiteral("文件操作"));
        file->add_item(QStringLiteral("打开(&O)"), QStringLiteral("打开一个考务文件"));
        menu* save = file->add_item(QStringLiteral("保存(&S)"), QStringLiteral("保存当前文件"));
        // The bar is made on a central widget before that joins the window, and before the
        // window has its menu: it finds both when shown.
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        layout->addStretch();
        auto* bar = new u_statusbar(central);
        layout->addWidget(bar);
        window.setCentralWidget(central);
        QMenuBar* menubar = root.show_in(&window);
        window.show();
        QCOMPARE(bar->iw_parent(), &window);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        bar->of_settext(0, QStringLiteral("起始"));

        // Opening the menu highlights its title, then the pointer moves onto "保存".
        menubar->setActiveAction(menubar->actions().first());
        auto* popup = window.findChild<QMenu*>();
        QVERIFY(popup != nullptr);
        QTRY_VERIFY(popup->isVisible());
        QCOMPARE(bar->of_gettext(0), QStringLiteral("文件操作"));
        QAction* save_action = popup->actions().at(1);
        QTest::mouseMove(popup, popup->actionGeometry(save_action).center());
        QTRY_COMPARE(bar->of_gettext(0), save->microhelp());

        popup->hide();
        QTRY_COMPARE(bar->of_gettext(0), u_statusbar::credits_line());

        bar->of_settext(0, QStringLiteral("起始"));
        bar->ue_menuselect(save->id(), 0x2080, static_cast<std::int32_t>(file->handle()));
        QCOMPARE(bar->of_gettext(0), u_statusbar::credits_line()); // a system-menu item
        bar->of_settext(0, QStringLiteral("起始"));
        bar->ue_menuselect(60000, 0x80, static_cast<std::int32_t>(file->handle()));
        QCOMPARE(bar->of_gettext(0), QStringLiteral("起始")); // unreadable: unchanged

        // A menu title without micro-help, opening: the credits line, not an empty part.
        menu* tools = root.add_item(QStringLiteral("工具(&T)"));
        tools->add_item(QStringLiteral("选项(&P)"), QStringLiteral("程序选项"));
        bar->of_settext(0, QStringLiteral("起始"));
        bar->ue_menuselect(tools->id(), 0x90, static_cast<std::int32_t>(root.handle()));
        QCOMPARE(bar->of_gettext(0), u_statusbar::credits_line());
    }

    void timerTicksOnceASecond()
    {
        QWidget window;
        u_statusbar bar(&window, true);
        QVERIFY(bar.ib_usetimer());
        QVERIFY(bar.inv_timer() != nullptr);
        QCOMPARE(bar.inv_timer()->interval(), 1.0);
        QSignalSpy ticks(&bar, &u_statusbar::ue_timer);
        QVERIFY(ticks.wait(3000));
        u_statusbar plain(&window);
        QVERIFY(plain.inv_timer() == nullptr);
    }

    void refreshInterval()
    {
        bar_window w;
        QCOMPARE(w.bar->of_getrefreshinterval(), rt::decimal(1));
        QCOMPARE(w.bar->of_setrefreshinterval(*rt::decimal::from_text(u"2.5")), 1);
        QCOMPARE(w.bar->of_setrefreshinterval(std::nullopt), -1);
        QCOMPARE(w.bar->of_getrefreshinterval().to_text(), QStringLiteral("2.5"));
    }
};

QTEST_MAIN(u_statusbar_test)
#include "u_statusbar_test.moc"
