// lumora_gallery's window driven as a user would: it starts with its grid filled, the pointer
// resting on an input brings up a tip of the chosen style (photographed for a person to look
// at), and both grid exports write their workbooks.

#include "w_gallery.h"
#include "window_texts.h"

#include <lumora/controls/u_statusbar.h>
#include <lumora/controls/uo_ddlb.h>
#include <lumora/controls/uo_dh_edit.h>

#include <rt/ui/qt_translations.h>

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

/// The tooltip window of the library, once one is shown.
QWidget* visible_tip()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == u"uo_tooltip_window" && w->isVisible())
            return w;
    return nullptr;
}

/// Rests the pointer in the middle of `control`, as a user's hand would.
void hover(QWidget* control)
{
    const QPoint local(control->width() / 2, control->height() / 2);
    const QPoint global = control->mapToGlobal(local);
    QCursor::setPos(control->screen(), global);
    // Platforms without a pointer to move (offscreen) get the move delivered directly.
    QMouseEvent move(QEvent::MouseMove, local, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(control, &move);
}

/// The screen around the window and its tip; where the screen cannot be read, the two
/// rendered one over the other.
QPixmap shoot(QWidget* window, QWidget* tip)
{
    QRect area = window->frameGeometry();
    if (tip)
        area |= tip->geometry();
    QScreen* screen = window->screen();
    area &= screen->geometry();
    QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!shot.isNull() && QGuiApplication::platformName() == u"xcb")
        return shot;
    shot = QPixmap(area.size());
    shot.fill(Qt::white);
    QPainter p(&shot);
    p.drawPixmap(window->geometry().topLeft() - area.topLeft(), window->grab());
    if (tip) {
        const QPoint at = tip->geometry().topLeft() - area.topLeft();
        if (!tip->mask().isEmpty())
            p.setClipRegion(tip->mask().translated(at));
        p.drawPixmap(at, tip->grab());
    }
    return shot;
}

/// The names, abbreviations and formats the gallery shows as they are written.
const QStringList names = {QStringLiteral("lumora"), QStringLiteral("Excel"), QStringLiteral("MD5"),
                           QStringLiteral("URL"),    QStringLiteral("ANSI"),  QStringLiteral("GBK"),
                           QStringLiteral("UTF"),    QStringLiteral("LE"),    QStringLiteral("BE"),
                           QStringLiteral("xlsx")};

/// A message box as the test saw it.
struct seen_box {
    QString title;
    QString text;
    QStringList buttons;
    QStringList english;
};

/// Answers every message box that opens while it lives with `answer` (or the default button),
/// keeping what each showed; the first box of each kind is photographed as `shot_name`.
class box_watch : public QObject {
public:
    explicit box_watch(QMessageBox::StandardButton answer = QMessageBox::NoButton)
    {
        connect(&timer_, &QTimer::timeout, this, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen_box b{box->windowTitle(), box->text(), {}, {}};
            for (QAbstractButton* button : box->buttons())
                b.buttons << button->text();
            b.english = qorv::test::english_words(qorv::test::visible_texts(box));
            if (!shot_name.isEmpty()) {
                const QString dir = qEnvironmentVariable("QORV_TEST_DATA", QDir::tempPath());
                QDir().mkpath(dir);
                box->grab().save(QDir(dir).filePath(shot_name), "PNG");
                shot_name.clear();
            }
            boxes << b;
            const QMessageBox::StandardButton pressed =
                answer != QMessageBox::NoButton && box->standardButtons().testFlag(answer) ? answer
                : box->defaultButton() ? box->standardButton(box->defaultButton())
                                       : QMessageBox::Ok;
            box->done(pressed);
        });
        timer_.start(50);
    }
    QList<seen_box> boxes;
    QString shot_name;

private:
    QTimer timer_;
};

} // namespace

class gallery_test : public QObject {
    Q_OBJECT

private slots:
    // Qt's own texts in Chinese, as the program loads them whatever the locale.
    void initTestCase() { QVERIFY(rt::install_qt_translations(*qApp)); }

    // The window: Chinese wherever Qt has words of its own, the status bar along the bottom with
    // its grip in the corner, the 提示 menu checking the style in use.
    void the_window_speaks_chinese_and_keeps_its_bar_at_the_bottom()
    {
        w_gallery window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList english =
            qorv::test::english_words(qorv::test::visible_texts(&window), names);
        QVERIFY2(english.isEmpty(), qPrintable(english.join(u' ')));
        std::unique_ptr<QMenu> context(window.name_edit()->createStandardContextMenu());
        QStringList context_texts;
        for (const QAction* a : context->actions())
            context_texts << a->text();
        // Shortcuts name the keys as the keyboard does (Ctrl+Z, Ctrl+Shift+Z).
        QVERIFY2(qorv::test::english_words(context_texts,
                                           {QStringLiteral("Ctrl"), QStringLiteral("Shift")})
                     .isEmpty(),
                 qPrintable(context_texts.join(u' ')));

        lumora::u_statusbar* bar = window.status_bar();
        QCOMPARE(bar->geometry().bottom(), window.height() - 1);
        QCOMPARE(bar->geometry().left(), 0);
        QCOMPARE(bar->geometry().right(), window.width() - 1);
        const QSizeGrip* grip = bar->findChild<QSizeGrip*>();
        QVERIFY(grip != nullptr && grip->isVisible());
        QCOMPARE(bar->mapTo(&window, grip->geometry().bottomRight()),
                 QPoint(window.width() - 1, window.height() - 1));

        const auto checked_styles = [&window] {
            QStringList checked;
            for (const QAction* a : window.findChild<QMenuBar*>()->findChildren<QAction*>())
                if (a->isChecked())
                    checked << a->text();
            return checked;
        };
        QCOMPARE(checked_styles(), QStringList{QStringLiteral("普通提示(&O)")});
        window.set_tip_style(2);
        QCOMPARE(checked_styles(), QStringList{QStringLiteral("气球提示(&B)")});
    }

    // The export's file dialog (Qt's own, as without a desktop) in Chinese.
    void the_export_dialog_speaks_chinese()
    {
        w_gallery window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList english{QStringLiteral("no dialog")};
        QTimer look;
        connect(&look, &QTimer::timeout, [&english] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            english = qorv::test::english_words(qorv::test::visible_texts(dialog), names);
            const QString dir = qEnvironmentVariable("QORV_TEST_DATA", QDir::tempPath());
            dialog->grab().save(QDir(dir).filePath(QStringLiteral("gallery-file-dialog.png")));
            dialog->reject();
        });
        look.start(50);
        QPushButton* automation = nullptr;
        for (QPushButton* b : window.findChildren<QPushButton*>())
            if (b->text().startsWith(u"导出"))
                automation = b;
        QVERIFY(automation != nullptr);
        automation->click();
        QVERIFY2(english.isEmpty(), qPrintable(english.join(u' ')));
    }

    // A second export to the same file: both exports ask the same question, with Qt's buttons
    // in Chinese, read back from the box (the automation export's box is photographed).
    void both_exports_ask_before_replacing_a_workbook()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        w_gallery window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString automation = dir.filePath(QStringLiteral("考生成绩.xlsx"));
        const QString shown = dir.filePath(QStringLiteral("考生成绩（显示内容）.xlsx"));
        {
            box_watch first;
            QVERIFY(window.export_file(automation, false));
            QVERIFY(window.export_file(shown, true));
            QCOMPARE(first.boxes.size(), 2);
            for (const seen_box& b : first.boxes) {
                QCOMPARE(b.text, QStringLiteral("导出成功!"));
                QCOMPARE(b.buttons, QStringList{QStringLiteral("确定")});
            }
        }
        const QDateTime written = QFileInfo(automation).lastModified();
        box_watch again(QMessageBox::No);
        again.shot_name = QStringLiteral("gallery-overwrite.png");
        QVERIFY(!window.export_file(automation, false));
        QVERIFY(!window.export_file(shown, true));
        QCOMPARE(again.boxes.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const seen_box& b = again.boxes.at(i);
            QCOMPARE(b.title, QStringLiteral("保存"));
            QCOMPARE(b.text, (i == 0 ? automation : shown) + QStringLiteral("已经存在,是否覆盖?"));
            QStringList buttons = b.buttons;
            buttons.sort();
            QCOMPARE(buttons, (QStringList{QStringLiteral("否"), QStringLiteral("是")}));
            QVERIFY2(b.english.isEmpty(), qPrintable(b.english.join(u' ')));
        }
        QCOMPARE(QFileInfo(automation).lastModified(), written);
    }

    // The window as it starts, with a tip of each style over an input. The screenshots go to
    // QORV_TEST_DATA (`make gallery` sets it to the build directory).
    void a_tip_shows_over_an_input_data()
    {
        QTest::addColumn<QString>("style");
        QTest::newRow("normal tip over the subject") << "normal";
        QTest::newRow("balloon over the focused name field") << "balloon";
    }

    void a_tip_shows_over_an_input()
    {
        QFETCH(QString, style);
        w_gallery window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(window.shown_rows() > 0, "the grid is empty");
        const bool balloon = style == u"balloon";
        window.set_tip_style(balloon ? 2 : 1);
        QWidget* control = balloon ? static_cast<QWidget*>(window.name_edit())
                                   : static_cast<QWidget*>(window.subject_box());
        if (balloon) {
            window.activateWindow();
            window.name_edit()->setFocus();
            QTRY_VERIFY(window.name_edit()->hasFocus());
        }
        hover(control);
        QTRY_VERIFY_WITH_TIMEOUT(visible_tip() != nullptr, 5000);

        // Let the tip reach the screen before the screen is read; it must stay meanwhile.
        QTest::qWait(300);
        QWidget* tip = visible_tip();
        QVERIFY2(tip, "the tip went away before the screenshot");
        const QString dir = qEnvironmentVariable("QORV_TEST_DATA", QDir::tempPath());
        QVERIFY(QDir().mkpath(dir));
        const QString file = QDir(dir).filePath(QStringLiteral("gallery-%1.png").arg(style));
        QVERIFY2(shoot(&window, tip).save(file, "PNG"), qPrintable(file));
        qInfo("%s", qPrintable(file));
    }

    // Both grid exports from the buttons' code path, their message boxes answered with the
    // default button. The directory starts empty, so that no export finds an earlier workbook
    // to ask about.
    void both_exports_write_their_workbooks()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        w_gallery window;
        window.show();
        box_watch boxes;
        const QString automation = dir.filePath(QStringLiteral("考生成绩.xlsx"));
        const QString shown = dir.filePath(QStringLiteral("考生成绩（显示内容）.xlsx"));
        QVERIFY(window.export_file(automation, false));
        QVERIFY(window.export_file(shown, true));
        QVERIFY(QFile(automation).size() > 0);
        QVERIFY(QFile(shown).size() > 0);
    }
};

QTEST_MAIN(gallery_test)
#include "gallery_test.moc"
