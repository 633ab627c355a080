#include "update_window.h"

#include "stop_signals.h"
#include "texts.h"
#include "update_server.h"

#include <rt/ui/messagebox.h>
#include <rt/ui/units.h>
#include <rt/value/decimal.h>
#include <rt/value/format_version.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace qorv {

namespace {

// Colours are given as 0x00BBGGRR.
QColor win32_colour(quint32 bgr)
{
    return QColor(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff);
}

QFont tahoma(int points, bool bold = false)
{
    QFont font;
    // Chinese text falls back to a CJK face where Tahoma has no glyphs.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

QLabel* static_text(QWidget* parent, const char* name, QRect units, int points, bool bold,
                    std::optional<quint32> colour, bool visible, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    // Versions and file names come from qorv.ini and the server: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rt::units_to_pixels(units.x(), units.y(), units.width(), units.height()));
    label->setFont(tahoma(points, bold));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (colour) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, win32_colour(*colour));
        label->setPalette(p);
    }
    label->setVisible(visible);
    return label;
}

QIcon program_icon()
{
    // A downward arrow into a tray: "bring the installation up to date".
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1e, 0x6f, 0xd9));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(4, 4, 56, 56, 10, 10);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygon({{24, 12}, {40, 12}, {40, 30}, {50, 30}, {32, 46}, {14, 30}, {24, 30}}));
    p.drawRect(14, 50, 36, 4);
    return QIcon(pixmap);
}

} // namespace

struct update_window::private_parts {
    update_server& server;
    QString sys_path;
    QString ini_file;
    QLabel* st_1;
    QLabel* st_6;
    QLabel* st_2;
    QLabel* st_5;
    QLabel* st_3;
    QLabel* st_4;
    QPushButton* cb_1;
    QProgressBar* jd_1;
    QLabel* st_7;
    bool running = false;
    bool closed = false;
    bool failed = false;
};

update_window::update_window(update_server& server, QString sys_path, QString ini_file,
                             QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      d(new private_parts{server, std::move(sys_path), std::move(ini_file)})
{
    setObjectName(QStringLiteral("w_update"));
    setWindowTitle(texts::window_title);
    setWindowIcon(program_icon());
    // The background is the system's button face. (Changing the background role instead would
    // make every child paint its text in the button text colour.)
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    setPalette(background);
    setAutoFillBackground(true);
    // The size is that of the client area, so that every control fits whatever frame the window
    // manager adds.
    setFixedSize(rt::units_to_pixels_x(2025), rt::units_to_pixels_y(528));

    constexpr quint32 blue = 0x00FF0000;
    constexpr quint32 red = 0x000000FF;
    d->st_1 = static_text(this, "st_1", {224, 40, 457, 76}, 12, false, {}, true, texts::my_version);
    d->st_6 =
        static_text(this, "st_6", {645, 40, 306, 76}, 12, true, blue, true, QStringLiteral("1.0"));
    d->st_2 =
        static_text(this, "st_2", {1042, 40, 457, 76}, 12, false, {}, true, texts::newest_version);
    d->st_5 =
        static_text(this, "st_5", {1463, 40, 288, 76}, 12, true, red, true, QStringLiteral("1.3"));
    d->st_3 = static_text(this, "st_3", {27, 156, 1431, 76}, 12, false, {}, false,
                          texts::files_line(6, 1));
    d->st_4 = static_text(this, "st_4", {1417, 156, 576, 76}, 12, false, red, false,
                          QStringLiteral("qorv.exe"));
    d->st_7 = static_text(this, "st_7", {18, 364, 1970, 76}, 9, false, {}, false, texts::preparing);

    d->cb_1 = new QPushButton(texts::start_update, this);
    d->cb_1->setObjectName(QStringLiteral("cb_1"));
    d->cb_1->setGeometry(rt::units_to_pixels(654, 256, 695, 132));
    d->cb_1->setFont(tahoma(12));
    connect(d->cb_1, &QPushButton::clicked, this, [this] { start_update(); });

    d->jd_1 = new QProgressBar(this);
    d->jd_1->setObjectName(QStringLiteral("jd_1"));
    d->jd_1->setGeometry(rt::units_to_pixels(59, 256, 1888, 68));
    d->jd_1->setRange(0, 100);
    d->jd_1->setValue(0);
    d->jd_1->setTextVisible(false);
    d->jd_1->hide();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

update_window::~update_window() = default;

connect_result update_window::connect_server(const raw_settings& raw, const settings_cipher& cipher,
                                             QString* reason)
{
    // Should the window show during the wait: the installed version, nothing yet for the
    // newest one.
    d->st_6->setText(raw.ver);
    d->st_5->clear();
    const connect_result result =
        connect_waiting(d->server.transaction(), raw, cipher, *this, reason);
    // The status line takes the button's place for the wait only.
    d->st_7->hide();
    d->st_7->setText(texts::preparing);
    d->cb_1->show();
    return result;
}

void update_window::waiting(int retry, std::chrono::milliseconds pause, const QString&)
{
    d->st_7->setText(texts::server_busy(retry, double(pause.count()) / 1000));
    d->st_7->show();
    d->cb_1->hide();
    if (!isVisible() && !d->closed)
        show();
}

bool update_window::check_versions(const QString& k5)
{
    d->st_6->setText(k5);
    const rt::decimal local = rt::decimal::from_text(k5).value_or(rt::decimal());
    const auto newest = d->server.newest_version(local);
    rt::transaction& sqlca = d->server.transaction();
    if (sqlca.sqlcode < 0) {
        rt::messagebox(texts::title_database_error,
                       texts::database_error(sqlca.sqldbcode, sqlca.sqlerrtext), rt::icon::stop);
        close();
        return false;
    }
    d->st_5->setText(rt::format_version(newest.value_or(rt::decimal())));
    d->cb_1->setEnabled(newest.has_value());
    return true;
}

job_result update_window::start_update()
{
    if (d->running)
        return job_result::failed;
    d->running = true;
    const stop_signals stop;
    const job_result result =
        run_update(d->server, d->st_5->text(), d->sys_path, d->ini_file, *this);
    d->running = false;
    d->failed = result == job_result::failed;
    if (result == job_result::failed && !d->closed)
        close();
    return result;
}

bool update_window::update_failed() const
{
    return d->failed;
}

void update_window::closeEvent(QCloseEvent* event)
{
    // Closing while the procedure yields stops it: run_update() sees the closed window at its
    // next yield and puts everything back as it was.
    d->closed = true;
    event->accept();
}

void update_window::begin()
{
    d->jd_1->show();
    d->st_3->show();
    d->st_4->show();
    d->st_7->show();
    d->cb_1->hide();
}

void update_window::end()
{
    d->jd_1->hide();
    d->st_3->hide();
    d->st_4->hide();
    d->st_7->hide();
    d->cb_1->show();
}

void update_window::set_file(const QString& files_line, const QString& file_name)
{
    d->st_3->setText(files_line);
    d->st_4->setText(file_name);
}

void update_window::set_status(const QString& status_line)
{
    d->st_7->setText(status_line);
}

void update_window::set_progress(qint64 maximum, qint64 position)
{
    // A bar whose range is 0..0 would show Qt's busy animation; the platform shows it empty.
    const int bound = static_cast<int>(std::min<qint64>(maximum, std::numeric_limits<int>::max()));
    d->jd_1->setRange(0, std::max(bound, 1));
    d->jd_1->setValue(static_cast<int>(std::min<qint64>(position, bound)));
}

bool update_window::yield()
{
    QCoreApplication::processEvents();
    // A stop signal ends the procedure like closing the window does.
    if (stop_signals::received() != 0 && !d->closed)
        close();
    return !d->closed;
}

void update_window::set_installed_version(const QString& version)
{
    d->st_6->setText(version);
}

} // namespace qorv
