// The update window on the offscreen platform: controls, states and screenshots of each state.

#include "connection.h"
#include "recording_view.h"
#include "tds_responder.h"
#include "texts.h"
#include "update_server.h"
#include "update_server_fixture.h"
#include "update_window.h"
#include "window_texts.h"

#include <lmget_cipher.h>
#include <rt/ui/qt_translations.h>
#include <rt/ui/units.h>
#include <rt/value/profile.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace qorv;
using namespace qorv::test;

namespace {

/// Saves a picture of the window for a person to look at.
void screenshot(QWidget& w, const char* state)
{
    const QString dir = qEnvironmentVariable("QORV_TEST_DATA", QDir::tempPath());
    QDir().mkpath(dir);
    const QString file =
        QDir(dir).filePath(QStringLiteral("w_update-%1.png").arg(QLatin1String(state)));
    QVERIFY(w.grab().save(file));
}

QColor win32_colour(quint32 bgr)
{
    return QColor(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff);
}

struct window_setup {
    update_server_fixture server{QStringLiteral("sqlite")};
    std::unique_ptr<rt::transaction> sqlca;
    std::unique_ptr<update_server> statements;
    std::unique_ptr<update_window> window;

    bool open(const QString& k5)
    {
        sqlca = server.connect();
        if (!sqlca)
            return false;
        statements = std::make_unique<update_server>(*sqlca);
        window =
            std::make_unique<update_window>(*statements, server.install_dir(), server.ini_file());
        if (!window->check_versions(k5))
            return false;
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
    template <typename T> T* child(const char* name)
    {
        return window->findChild<T*>(QLatin1String(name));
    }
};

} // namespace

class update_window_test : public QObject {
    Q_OBJECT

private slots:
    // Qt's own texts in Chinese, as qorv_update loads them whatever the locale.
    void initTestCase() { QVERIFY(rt::install_qt_translations(*qApp)); }

    void controls_are_laid_out_in_layout_units_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("units");
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<int>("colour"); // -1: the window text colour
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("text");

        QTest::newRow("st_1") << "st_1" << QRect(224, 40, 457, 76) << 12 << false << -1 << true
                              << texts::my_version;
        QTest::newRow("st_6") << "st_6" << QRect(645, 40, 306, 76) << 12 << true << 0x00FF0000
                              << true << "1.1";
        QTest::newRow("st_2") << "st_2" << QRect(1042, 40, 457, 76) << 12 << false << -1 << true
                              << texts::newest_version;
        QTest::newRow("st_5") << "st_5" << QRect(1463, 40, 288, 76) << 12 << true << 0x000000FF
                              << true << "1.3";
        QTest::newRow("st_3") << "st_3" << QRect(27, 156, 1431, 76) << 12 << false << -1 << false
                              << QStringLiteral("共有 6 个文件需要更新，正在更新第 1 个：");
        QTest::newRow("st_4") << "st_4" << QRect(1417, 156, 576, 76) << 12 << false << 0x000000FF
                              << false << "qorv.exe";
        QTest::newRow("st_7") << "st_7" << QRect(18, 364, 1970, 76) << 9 << false << -1 << false
                              << texts::preparing;
        QTest::newRow("cb_1") << "cb_1" << QRect(654, 256, 695, 132) << 12 << false << -1 << true
                              << texts::start_update;
        QTest::newRow("jd_1") << "jd_1" << QRect(59, 256, 1888, 68) << 0 << false << -1 << false
                              << QString();
    }

    void controls_are_laid_out_in_layout_units()
    {
        QFETCH(QString, name);
        QFETCH(QRect, units);
        QFETCH(int, points);
        QFETCH(bool, bold);
        QFETCH(int, colour);
        QFETCH(bool, visible);
        QFETCH(QString, text);

        window_setup s;
        QVERIFY(s.server.add({{"a.dll", "1.3", "a"}}));
        QVERIFY(s.open(QStringLiteral("1.1")));
        QWidget* w = s.window->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(),
                 rt::units_to_pixels(units.x(), units.y(), units.width(), units.height()));
        QCOMPARE(w->isVisible(), visible);
        if (points) {
            QCOMPARE(w->font().pointSize(), points);
            QCOMPARE(w->font().bold(), bold);
            QVERIFY(w->font().families().startsWith(QStringLiteral("Tahoma")));
        }
        if (colour >= 0) {
            const QColor expected = win32_colour(static_cast<quint32>(colour));
            QCOMPARE(w->palette().color(QPalette::WindowText), expected);
            // The text is painted in that colour.
            const QImage image = w->grab().toImage();
            int painted = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    painted += image.pixelColor(x, y) == expected;
            QVERIFY2(painted > 5, qPrintable(QString::number(painted)));
        }
        if (auto* label = qobject_cast<QLabel*>(w))
            QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QPushButton*>(w))
            QCOMPARE(button->text(), text);
        if (auto* bar = qobject_cast<QProgressBar*>(w)) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 100);
        }
    }

    void the_window_has_its_title_and_size()
    {
        window_setup s;
        QVERIFY(s.open(QStringLiteral("1.0")));
        QCOMPARE(s.window->windowTitle(), texts::window_title);
        QCOMPARE(s.window->size(), QSize(rt::units_to_pixels_x(2025), rt::units_to_pixels_y(528)));
        QVERIFY(!(s.window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(s.window->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!s.window->windowIcon().isNull());
        // At 96 dpi: 2025 × 528 units are 443 × 132 pixels.
        QCOMPARE(rt::units_to_pixels(0, 0, 2025, 528, 96).size(), QSize(443, 132));
    }

    void an_up_to_date_installation_is_not_offered_an_update()
    {
        window_setup s;
        QVERIFY(s.server.add({{"a.dll", "1.3", "a"}}));
        QVERIFY(s.open(QStringLiteral("1.3")));
        QCOMPARE(s.child<QLabel>("st_6")->text(), QStringLiteral("1.3"));
        QCOMPARE(s.child<QLabel>("st_5")->text(), QStringLiteral("0.0"));
        QVERIFY(!s.child<QPushButton>("cb_1")->isEnabled());
        screenshot(*s.window, "up-to-date");
    }

    void pressing_the_button_updates_and_offers_the_same_version_again()
    {
        window_setup s;
        QVERIFY(s.server.add({{"a.dll", "1.2", QByteArray(70000, 'a')},
                              {"b.dll", "1.3", QByteArray(100000, 'b')},
                              {"c.dll", "1.3", QByteArray(5, 'c')}}));
        QVERIFY(rt::set_profile_string(s.server.ini_file(), "qorv", "ver", "1.1") == 1);
        QVERIFY(s.open(QStringLiteral("1.1")));
        QCOMPARE(s.child<QLabel>("st_5")->text(), QStringLiteral("1.3"));
        auto* button = s.child<QPushButton>("cb_1");
        QVERIFY(button->isEnabled());
        screenshot(*s.window, "offered");

        message_log log;
        bool seen_updating = false;
        // The procedure yields to the event loop: look at the window while it runs.
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            // Halfway through the first file (b.dll has four chunks).
            if (seen_updating || s.child<QLabel>("st_4")->text() != QLatin1String("b.dll") ||
                s.child<QProgressBar>("jd_1")->value() < 2)
                return;
            seen_updating = true;
            QVERIFY(!button->isVisible());
            QVERIFY(s.child<QProgressBar>("jd_1")->isVisible());
            QCOMPARE(s.child<QLabel>("st_3")->text(), texts::files_line(2, 1));
            screenshot(*s.window, "updating");
        });
        probe.start(0);
        QTest::mouseClick(button, Qt::LeftButton);
        probe.stop();

        QVERIFY(seen_updating);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].text, texts::update_succeeded);
        QCOMPARE(s.child<QLabel>("st_6")->text(), QStringLiteral("1.3"));
        QVERIFY(button->isVisible() && button->isEnabled());
        QVERIFY(!s.child<QProgressBar>("jd_1")->isVisible());
        QVERIFY(!s.child<QLabel>("st_7")->isVisible());
        QCOMPARE(rt::profile_string(s.server.ini_file(), "qorv", "ver"), QStringLiteral("1.3"));
        QVERIFY(s.window->isVisible());
        screenshot(*s.window, "updated");

        // A second press installs the same version again.
        QFile::remove(QDir(s.server.install_dir()).filePath(QStringLiteral("c.dll")));
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(QFile::exists(QDir(s.server.install_dir()).filePath(QStringLiteral("c.dll"))));
        QVERIFY(!QFile::exists(QDir(s.server.install_dir()).filePath(QStringLiteral("a.dll"))));
    }

    void closing_the_window_during_the_update_stops_it_cleanly()
    {
        window_setup s;
        QVERIFY(s.server.add(
            {{"a.dll", "2", QByteArray(500000, 'a')}, {"b.dll", "2", QByteArray(10, 'b')}}));
        QVERIFY(s.open(QStringLiteral("1")));
        message_log log;
        QTimer::singleShot(0, s.window.get(), &QWidget::close);
        QCOMPARE(s.window->start_update(), job_result::cancelled);
        QVERIFY(!s.window->isVisible());
        QVERIFY(log.messages.isEmpty());
        QCOMPARE(QDir(s.server.install_dir()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void a_failure_closes_the_window()
    {
        window_setup s;
        QVERIFY(s.server.add({{"a.dll", "2", QByteArray()}}));
        QVERIFY(s.open(QStringLiteral("1")));
        message_log log;
        QCOMPARE(s.window->start_update(), job_result::failed);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].text, texts::download_failed);
        QVERIFY(!s.window->isVisible());
    }

    // The box a failed update shows, as the user sees it: its button and every text in Chinese,
    // read back from the widgets and photographed.
    void the_failure_box_speaks_chinese()
    {
        window_setup s;
        QVERIFY(s.server.add({{"a.dll", "2", QByteArray()}}));
        QVERIFY(s.open(QStringLiteral("1")));
        QVERIFY(qorv::test::english_words(qorv::test::visible_texts(s.window.get())).isEmpty());
        QString title, text;
        QStringList buttons, english;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            title = box->windowTitle();
            text = box->text();
            for (const QAbstractButton* b : box->buttons())
                buttons << b->text();
            english = qorv::test::english_words(qorv::test::visible_texts(box));
            screenshot(*box, "failure-box");
            box->done(QMessageBox::Ok);
        });
        answer.start(50);
        QCOMPARE(s.window->start_update(), job_result::failed);
        QCOMPARE(title, texts::title_error);
        QCOMPARE(text, texts::download_failed);
        QCOMPARE(buttons, QStringList{QStringLiteral("确定")});
        QVERIFY2(english.isEmpty(), qPrintable(english.join(u' ')));
    }

    void labels_show_markup_as_plain_text_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("ver");       // qorv.ini's version
        QTest::addColumn<QString>("file_name"); // the server's file name
        QTest::newRow("version from qorv.ini") << "st_6"
                                               << "<b>1.0</b>"
                                               << "a.dll";
        QTest::newRow("file name from the server") << "st_4"
                                                   << "1"
                                                   << "<font size=7 color=red>big.dll";
    }

    void labels_show_markup_as_plain_text()
    {
        QFETCH(QString, label);
        QFETCH(QString, ver);
        QFETCH(QString, file_name);
        window_setup s;
        QVERIFY(s.server.add({{file_name, "2", "x"}}));
        QVERIFY(s.open(ver));
        message_log log;
        const bool from_server = label == QLatin1String("st_4");
        if (from_server)
            QCOMPARE(s.window->start_update(), job_result::updated);
        auto* shown = s.child<QLabel>(qPrintable(label));
        const QString text = from_server ? file_name : ver;
        QCOMPARE(shown->text(), text);
        // As rich text the markup would vanish and the label would need far less room.
        QVERIFY2(shown->sizeHint().width() >= shown->fontMetrics().horizontalAdvance(text),
                 qPrintable(QString::number(shown->sizeHint().width())));
        for (const QLabel* l : s.window->findChildren<QLabel*>())
            QCOMPARE(l->textFormat(), Qt::PlainText);
    }

    // A server refusing the log-in for want of capacity (a stand-in SQL Server whose user
    // connections are used up): the window opens during the wait and says so; closing it ends
    // the wait.
    void closing_the_window_while_it_waits_for_a_busy_server_cancels()
    {
        tds_responder busy(tds_responder::mode::busy);
        const auto stored = [](const QString& clear) {
            return QString::fromStdString(lmget::encrypt(sys_mm, clear.toStdString()));
        };
        raw_settings raw;
        raw.servername = stored(QStringLiteral("127.0.0.1,%1").arg(busy.port()));
        raw.database = stored(QStringLiteral("exam"));
        raw.user = stored(QStringLiteral("sa"));
        raw.password = stored(QStringLiteral("pw"));
        raw.ver = QStringLiteral("1.2");
        const settings_cipher cipher;
        QVERIFY2(cipher.loaded(), qPrintable(cipher.error()));
        rt::transaction sqlca;
        update_server statements(sqlca);
        update_window window(statements, QDir::tempPath(), QString());
        QTimer watch; // closes the window as soon as it shows the wait
        QString shown, versions;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!window.isVisible())
                return;
            shown = window.findChild<QLabel*>(QStringLiteral("st_7"))->text();
            versions = window.findChild<QLabel*>(QStringLiteral("st_6"))->text() + u'|' +
                       window.findChild<QLabel*>(QStringLiteral("st_5"))->text();
            screenshot(window, "waiting");
            window.close();
            watch.stop();
        });
        watch.start(10);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(window.connect_server(raw, cipher), connect_result::cancelled);
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(shown.startsWith(QStringLiteral("升级服务器繁忙，")), qPrintable(shown));
        QCOMPARE(versions, QStringLiteral("1.2|")); // the newest version is not known yet
        QVERIFY(!window.isVisible());
    }

    void a_failing_version_check_closes_the_window()
    {
        window_setup s;
        auto sqlca = s.server.connect();
        QVERIFY(sqlca->execute(QStringLiteral("drop table t_file")) >= 0 && sqlca->commit() >= 0);
        message_log log;
        QVERIFY(!s.open(QStringLiteral("1.0")));
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].title, texts::title_database_error);
        QVERIFY(!s.window->isVisible());
    }
};

QTEST_MAIN(update_window_test)
#include "update_window_test.moc"
