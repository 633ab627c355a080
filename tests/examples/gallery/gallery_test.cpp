// lumora_gallery's window driven as a user would: it starts with its grid filled, the pointer
// resting on an input brings up a tip of the chosen style (photographed for a person to look
// at), and both grid exports write their workbooks.

#include "w_gallery.h"

#include <lumora/controls/uo_ddlb.h>
#include <lumora/controls/uo_dh_edit.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
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

} // namespace

class gallery_test : public QObject {
    Q_OBJECT

private slots:
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
        QTimer answer;
        QStringList boxes;
        connect(&answer, &QTimer::timeout, [&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + QStringLiteral(": ") + box->text();
                box->done(box->defaultButton() ? box->standardButton(box->defaultButton())
                                               : QMessageBox::Ok);
            }
        });
        answer.start(50);
        const QString automation = dir.filePath(QStringLiteral("考生成绩.xlsx"));
        const QString shown = dir.filePath(QStringLiteral("考生成绩（显示内容）.xlsx"));
        QVERIFY2(window.export_file(automation, false), qPrintable(boxes.join(u'\n')));
        QVERIFY2(window.export_file(shown, true), qPrintable(boxes.join(u'\n')));
        QVERIFY(QFile(automation).size() > 0);
        QVERIFY(QFile(shown).size() > 0);
    }
};

QTEST_MAIN(gallery_test)
#include "gallery_test.moc"
