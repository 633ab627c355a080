// A window with a menu bar, one menu open with an item highlighted, and a status bar of several
// parts with an icon and a running clock, rendered to PNG for a person to look at.

#include <lumora/controls/u_statusbar.h>
#include <lumora/menu/menu.h>

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

using lumora::menu;
using lumora::u_statusbar;

class u_statusbar_screenshot_test : public QObject {
    Q_OBJECT

private slots:
    void windowWithOpenMenuAndStatusBar()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("考务管理"));
        window.resize(640, 360);
        auto* content = new QLabel(QStringLiteral("考务管理系统"), &window);
        content->setAlignment(Qt::AlignCenter);
        content->setGeometry(0, 40, 640, 260);

        menu root;
        menu* file = root.add_item(QStringLiteral("文件(&F)"), QStringLiteral("文件操作"));
        file->add_item(QStringLiteral("打开(&O)..."), QStringLiteral("打开一个考务数据文件"));
        menu* save = file->add_item(QStringLiteral("保存(&S)"), QStringLiteral("保存当前考场安排"));
        file->add_item(QStringLiteral("-"));
        file->add_item(QStringLiteral("退出(&X)"), QStringLiteral("退出本系统"));
        menu* exam = root.add_item(QStringLiteral("考务(&K)"), QStringLiteral("考务安排"));
        exam->add_item(QStringLiteral("抽签(&C)"), QStringLiteral("为监考人员抽签"));
        root.add_item(QStringLiteral("帮助(&H)"), QStringLiteral("帮助信息"))
            ->add_item(QStringLiteral("关于(&A)"), QStringLiteral("版本与技术支持"));
        QMenuBar* menubar = root.show_in(&window);

        auto* bar = new u_statusbar(&window, true);
        bar->of_setparts({300, 420, 520, -1});
        QTemporaryDir dir;
        QImage picture(16, 16, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        {
            QPainter p(&picture);
            p.setRenderHint(QPainter::Antialiasing);
            p.setBrush(QColor(40, 110, 200));
            p.setPen(Qt::NoPen);
            p.drawEllipse(1, 1, 14, 14);
            p.setPen(Qt::white);
            p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("人"));
        }
        QVERIFY(picture.save(dir.filePath(QStringLiteral("user.png"))));
        const std::uint32_t icon =
            u_statusbar::of_loadicon(dir.filePath(QStringLiteral("user.png")));
        QVERIFY(icon != 0);
        bar->of_seticon(1, static_cast<std::int32_t>(icon));
        bar->of_settext(1, QStringLiteral("管理员"));
        bar->of_settext(2, u_statusbar::sbt_popout, QStringLiteral("第 12 考点"));
        connect(bar, &u_statusbar::ue_timer, bar, [bar] {
            bar->of_settext(3, QStringLiteral("\t") +
                                   QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy ticks(bar, &u_statusbar::ue_timer);
        QVERIFY(ticks.wait(3000));
        QVERIFY(bar->of_gettext(3).contains(QLatin1Char(':')));

        menubar->setActiveAction(menubar->actions().first());
        auto* popup = window.findChild<QMenu*>();
        QVERIFY(popup != nullptr);
        QTRY_VERIFY(popup->isVisible());
        QAction* save_action = popup->actions().at(1);
        QTest::mouseMove(popup, popup->actionGeometry(save_action).center());
        QTRY_COMPARE(bar->of_gettext(0), save->microhelp());

        // The open menu is a window of its own: paint it over the window where it stands.
        QImage shot = window.grab().toImage();
        {
            QPainter p(&shot);
            p.drawImage(popup->mapToGlobal(QPoint()) - window.mapToGlobal(QPoint()),
                        popup->grab().toImage());
        }
        const QString out = qEnvironmentVariable("QORV_TEST_DATA", QDir::tempPath());
        QDir().mkpath(out);
        QVERIFY(shot.save(QDir(out).filePath(QStringLiteral("u_statusbar-menu.png"))));
    }
};

QTEST_MAIN(u_statusbar_screenshot_test)
#include "u_statusbar_screenshot_test.moc"
