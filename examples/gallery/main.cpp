// lumora_gallery: a host window that shows lumora's services at work.
//
//   lumora_gallery                      the window, until it is closed
//   lumora_gallery --smoke              start, show a tip over an input, exit (0 when it worked)
//   lumora_gallery --screenshot FILE [--tip normal|balloon]
//                                       start, rest the pointer on an input until its tip
//                                       shows, save the screen around the window as PNG, exit
//   lumora_gallery --export DIR         export the grid both ways into DIR, answer the message
//                                       boxes (their texts go to standard output), exit

#include "w_gallery.h"

#include <lumora/controls/uo_ddlb.h>
#include <lumora/controls/uo_dh_edit.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QCursor>
#include <QDeadlineTimer>
#include <QDir>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

namespace {

/// Runs the event loop until `done` holds or `ms` pass; returns whether it holds.
bool wait_until(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

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

/// Exports the grid both ways into `dir`; message boxes are answered with their default button
/// and their texts written to standard output. 0 when both workbooks were written.
int export_both(w_gallery& window, const QString& dir)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            QTextStream(stdout) << box->windowTitle() << ": " << box->text() << '\n';
            box->done(box->defaultButton() ? box->standardButton(box->defaultButton())
                                           : QMessageBox::Ok);
        }
    });
    answer.start(50);
    QDir().mkpath(dir);
    const bool automation = window.export_file(dir + QStringLiteral("/考生成绩.xlsx"), false);
    const bool shown = window.export_file(dir + QStringLiteral("/考生成绩（显示内容）.xlsx"), true);
    QTextStream(stdout) << "automation export: " << (automation ? "written" : "failed")
                        << ", display-text export: " << (shown ? "written" : "failed") << '\n';
    return automation && shown ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora_gallery"));
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral("lumora 组件展示"));
    args.addHelpOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("Start, show one tip and exit."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a screenshot to <file> and exit."),
                                        QStringLiteral("file"));
    const QCommandLineOption tip(QStringLiteral("tip"),
                                 QStringLiteral("Tip style of the screenshot: normal or balloon."),
                                 QStringLiteral("style"), QStringLiteral("normal"));
    const QCommandLineOption export_dir(QStringLiteral("export"),
                                        QStringLiteral("Export the grid both ways into <dir>."),
                                        QStringLiteral("dir"));
    args.addOptions({smoke, screenshot, tip, export_dir});
    args.process(app);

    w_gallery window;
    window.show();
    if (!args.isSet(smoke) && !args.isSet(screenshot) && !args.isSet(export_dir))
        return QApplication::exec();
    if (args.isSet(export_dir))
        return export_both(window, args.value(export_dir));

    QTextStream err(stderr);
    if (!wait_until([&] { return window.isVisible() && window.windowHandle()->isExposed(); },
                    5000)) {
        err << "lumora_gallery: the window did not appear\n";
        return 1;
    }
    const bool balloon = args.value(tip) == u"balloon";
    window.set_tip_style(balloon ? 2 : 1);
    // The balloon rests on the name field with the focus in it, the normal tip on the subject.
    QWidget* control = balloon ? static_cast<QWidget*>(window.name_edit())
                               : static_cast<QWidget*>(window.subject_box());
    if (balloon) {
        window.activateWindow();
        window.name_edit()->setFocus();
        wait_until([&] { return window.name_edit()->hasFocus(); }, 2000);
    }
    hover(control);
    if (!wait_until([] { return visible_tip() != nullptr; }, 5000)) {
        err << "lumora_gallery: no tip appeared over the input\n";
        return 1;
    }
    if (args.isSet(smoke)) {
        if (window.shown_rows() < 1) {
            err << "lumora_gallery: the grid is empty\n";
            return 1;
        }
        QTextStream(stdout) << "lumora_gallery: started, " << window.shown_rows()
                            << " candidates, tip shown\n";
        return 0;
    }
    // Let the tip paint before the screen is read.
    wait_until([] { return false; }, 300);
    if (!visible_tip()) {
        err << "lumora_gallery: the tip went away before the screenshot\n";
        return 1;
    }
    const QString file = args.value(screenshot);
    if (!shoot(&window, visible_tip()).save(file, "PNG")) {
        err << "lumora_gallery: cannot write " << file << '\n';
        return 1;
    }
    QTextStream(stdout) << file << '\n';
    return 0;
}
