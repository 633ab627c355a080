#include <lumora/menu/menu.h>
#include <lumora/menu/n_cst_menu.h>

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <memory>
#include <set>

using lumora::menu;
using lumora::n_cst_menu;

namespace {

// 文件(&F): 打开(&O), -, 最近(&R): 打开(&O) ; 帮助(&H): 关于(&A)
struct sample_tree {
    std::unique_ptr<menu> root = std::make_unique<menu>();
    menu* file = root->add_item(QStringLiteral("文件(&F)"), QStringLiteral("文件操作"));
    menu* open = file->add_item(QStringLiteral("打开(&O)"), QStringLiteral("打开一个文件"));
    menu* separator = file->add_item(QStringLiteral("-"));
    menu* recent = file->add_item(QStringLiteral("最近(&R)"));
    menu* recent_open = recent->add_item(QStringLiteral("打开(&O)"), QStringLiteral("较晚的"));
    menu* help = root->add_item(QStringLiteral("帮助(&H)"));
    menu* about = help->add_item(QStringLiteral("About"), QStringLiteral("版本信息"));
};

// The Qt menu of `window` that shows a menu's items.
QMenu* qt_menu_of(const menu* m, const QWidget& window)
{
    for (QMenu* candidate : window.findChildren<QMenu*>())
        if (candidate->title() == m->text())
            return candidate;
    return nullptr;
}

} // namespace

class n_cst_menu_test : public QObject {
    Q_OBJECT

private slots:
    void findMenu_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("found_help"); // micro-help of the menu found; "null" for none
        QTest::newRow("first in pre-order wins") << "打开(&O)"
                                                 << "打开一个文件";
        QTest::newRow("deep in a later branch") << "About"
                                                << "版本信息";
        QTest::newRow("without the marker") << "打开(O)"
                                            << "null";
        QTest::newRow("surrounding blanks") << " About"
                                            << "null";
        QTest::newRow("other case") << "about"
                                    << "null";
        QTest::newRow("a submenu title") << "文件(&F)"
                                         << "文件操作";
    }
    void findMenu()
    {
        QFETCH(QString, text);
        QFETCH(QString, found_help);
        sample_tree tree;
        const menu* found = n_cst_menu().of_findmenu(tree.root.get(), text);
        QCOMPARE(found == nullptr ? QStringLiteral("null") : found->microhelp(), found_help);
    }

    void findMenuReturnsTheRootBeforeItsItems()
    {
        sample_tree tree;
        tree.root->set_text(QStringLiteral("打开(&O)"));
        QCOMPARE(n_cst_menu().of_findmenu(tree.root.get(), QStringLiteral("打开(&O)")),
                 tree.root.get());
        QVERIFY(n_cst_menu().of_findmenu(nullptr, QStringLiteral("打开(&O)")) == nullptr);
    }

    void getMenuString_data()
    {
        QTest::addColumn<QString>("menu_of"); // whose Qt menu: "root", "file", "none"
        QTest::addColumn<QString>("item");    // name of the item, or a number
        QTest::addColumn<int>("max_count");
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text"); // the buffer afterwards
        const QString blanks(20, QLatin1Char(' '));
        QTest::newRow("by command") << "file"
                                    << "open" << 255 << 0 << 8 << "打开(&O)";
        QTest::newRow("by command in a submenu") << "root"
                                                 << "recent_open" << 255 << 0 << 8 << "打开(&O)";
        QTest::newRow("by position") << "file"
                                     << "2" << 255 << 0x400 << 8 << "最近(&R)";
        QTest::newRow("position past the end") << "file"
                                               << "3" << 255 << 0x400 << 0 << blanks;
        QTest::newRow("unknown command") << "root"
                                         << "65000" << 255 << 0 << 0 << blanks;
        QTest::newRow("unknown menu handle") << "none"
                                             << "open" << 255 << 0 << 0 << blanks;
        QTest::newRow("separator") << "file"
                                   << "1" << 255 << 0x400 << 0 << "";
        // 3 bytes hold one double-byte character, never half of the second.
        QTest::newRow("cut at whole characters") << "file"
                                                 << "open" << 4 << 0 << 2 << "打";
        QTest::newRow("cut in an ASCII tail") << "root"
                                              << "help" << 7 << 0 << 6 << "帮助(&";
        QTest::newRow("count 0 gives the length") << "file"
                                                  << "open" << 0 << 0 << 8 << blanks;
        QTest::newRow("count beyond the buffer") << "root"
                                                 << "about" << 4000 << 0 << 5 << "About";
    }
    void getMenuString()
    {
        QFETCH(QString, menu_of);
        QFETCH(QString, item);
        QFETCH(int, max_count);
        QFETCH(int, flag);
        QFETCH(int, result);
        QFETCH(QString, text);
        sample_tree tree;
        QMainWindow window;
        tree.root->show_in(&window);
        const std::map<QString, menu*> by_name{{"open", tree.open},
                                               {"recent_open", tree.recent_open},
                                               {"help", tree.help},
                                               {"about", tree.about}};
        const std::uint32_t hmenu = menu_of == "root"   ? tree.root->handle()
                                    : menu_of == "file" ? tree.file->handle()
                                                        : 0x7ffffff0u;
        QVERIFY(hmenu != 0);
        const std::uint32_t id = by_name.count(item) != 0 ? by_name.at(item)->id() : item.toUInt();
        QString buffer(20, QLatin1Char(' '));
        QCOMPARE(n_cst_menu().of_getmenustring(hmenu, id, buffer, max_count,
                                               static_cast<std::uint32_t>(flag)),
                 result);
        QCOMPARE(buffer, text);
    }

    void shownMenusFollowTheTree()
    {
        sample_tree tree;
        QMainWindow window;
        QMenuBar* bar = tree.root->show_in(&window);
        QCOMPARE(window.menuBar(), bar);
        QCOMPARE(menu::window_menu(&window), tree.root.get());
        QCOMPARE(bar->actions().size(), 2);

        tree.open->set_text(QStringLiteral("打开文件(&O)"));
        QString buffer(255, QLatin1Char(' '));
        QCOMPARE(n_cst_menu::getmenustring(tree.file->handle(), tree.open->id(), buffer, 255, 0),
                 12);
        QCOMPARE(buffer, QStringLiteral("打开文件(&O)"));

        menu* added = tree.help->add_item(QStringLiteral("新的"));
        QCOMPARE(n_cst_menu::getmenustring(tree.help->handle(), 1, buffer, 255, 0x400), 4);
        QCOMPARE(buffer, QStringLiteral("新的"));
        delete added;
        QCOMPARE(n_cst_menu::getmenustring(tree.help->handle(), 1, buffer, 255, 0x400), 0);
        QCOMPARE(tree.help->item_count(), 1);

        QSignalSpy clicked(tree.about, &menu::clicked);
        for (QAction* a : window.findChildren<QAction*>())
            if (a->text() == QStringLiteral("About"))
                a->trigger();
        QCOMPARE(clicked.count(), 1);

        const std::uint32_t file_handle = tree.file->handle();
        tree.root.reset();
        QVERIFY(menu::window_menu(&window) == nullptr);
        QCOMPARE(n_cst_menu::getmenustring(file_handle, 1, buffer, 255, 0x400), 0);
    }

    void clickHandlersMayChangeTheShownTree()
    {
        sample_tree tree;
        QMainWindow window;
        QMenuBar* bar = tree.root->show_in(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Choosing "About" removes it and adds another item: both rebuild the menu bar from
        // inside the handler of the menu being clicked.
        connect(tree.about, &menu::clicked, tree.help, [&tree] {
            tree.help->add_item(QStringLiteral("新的"));
            delete tree.about;
        });
        bar->setActiveAction(bar->actions().at(1));
        QMenu* help_menu = qt_menu_of(tree.help, window);
        QVERIFY(help_menu != nullptr);
        QTRY_VERIFY(help_menu->isVisible());
        QAction* about = help_menu->actions().first();
        QTest::mouseClick(help_menu, Qt::LeftButton, {}, help_menu->actionGeometry(about).center());
        QCOMPARE(tree.help->item_count(), 1);
        QString buffer;
        QTRY_VERIFY(tree.help->handle() != 0 &&
                    n_cst_menu::getmenustring(tree.help->handle(), 0, buffer, 255, 0x400) == 4);
        QCOMPARE(buffer, QStringLiteral("新的"));
    }

    // Changes to a shown tree change only the items concerned: the open menu stays open, the
    // handles stay, and a menu that a change does close is reported closed.
    void changesToAShownTreeKeepItsMenusAndHandles()
    {
        sample_tree tree;
        QMainWindow window;
        QMenuBar* bar = tree.root->show_in(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const std::uint32_t handles[] = {tree.root->handle(), tree.file->handle(),
                                         tree.recent->handle(), tree.help->handle()};
        bar->setActiveAction(bar->actions().first());
        QMenu* file_menu = qt_menu_of(tree.file, window);
        QTRY_VERIFY(file_menu != nullptr && file_menu->isVisible());
        QSignalSpy selected(tree.root.get(), &menu::menuselect);

        tree.help->add_item(QStringLiteral("新的"));
        tree.open->set_text(QStringLiteral("打开文件(&O)"));
        tree.separator->set_text(QStringLiteral("分隔(&S)")); // a separator becomes an item
        menu* tools = tree.root->add_item(QStringLiteral("工具(&T)"));
        tools->add_item(QStringLiteral("选项(&P)")); // a plain item becomes a submenu
        delete tree.recent_open;                     // a submenu becomes a plain item
        QCoreApplication::processEvents();
        QVERIFY(file_menu->isVisible());
        QCOMPARE(bar, window.menuBar());
        QCOMPARE(tree.root->handle(), handles[0]);
        QCOMPARE(tree.file->handle(), handles[1]);
        QCOMPARE(tree.help->handle(), handles[3]);
        QCOMPARE(tree.recent->handle(), 0u);
        QVERIFY(tools->handle() != 0);
        QString buffer;
        QCOMPARE(n_cst_menu::getmenustring(tree.file->handle(), 1, buffer, 255, 0x400), 8);
        QCOMPARE(buffer, QStringLiteral("分隔(&S)"));
        QCOMPARE(n_cst_menu::getmenustring(tree.root->handle(), 2, buffer, 255, 0x400), 8);
        QCOMPARE(buffer, QStringLiteral("工具(&T)"));
        for (const QList<QVariant>& args : selected)
            QVERIFY(args.at(1).toUInt() != 0xffff);

        delete tree.file;
        QTRY_VERIFY(!selected.isEmpty() && selected.last().at(1).toUInt() == 0xffff);
        QCOMPARE(tree.root->handle(), handles[0]);
        QCOMPARE(tree.help->handle(), handles[3]);
    }

    void identifiersAreUniqueAmongLivingMenus()
    {
        sample_tree a;
        sample_tree b;
        std::set<std::uint16_t> seen;
        for (const sample_tree* t : {&a, &b})
            for (const menu* m : {t->root.get(), t->file, t->open, t->separator, t->recent,
                                  t->recent_open, t->help, t->about})
                QVERIFY(m->id() != 0 && seen.insert(m->id()).second);
    }
};

QTEST_MAIN(n_cst_menu_test)
#include "n_cst_menu_test.moc"
