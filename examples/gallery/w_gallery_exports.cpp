// The gallery window's export side: the grid of the rows shown, both exports, and the message
// boxes they show (or a handler the test installs).

#include "w_gallery.h"

#include <lumora/controls/u_statusbar.h>
#include <lumora/export/grid_export.h>
#include <lumora/host.h>

#include <rt/grid/datawindow.h>
#include <rt/value/decimal.h>
#include <rt/value/errors.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardPaths>

QWidget* w_gallery::make_exports()
{
    auto* box = new QGroupBox(QStringLiteral("导出表格"));
    auto* row = new QHBoxLayout(box);
    auto* automation = new QPushButton(QStringLiteral("导出 Excel（自动化）"));
    automation->setToolTip(QStringLiteral("通过电子表格程序写出表中各行，并加合计行"));
    connect(automation, &QPushButton::clicked, this, [this] { export_grid(false); });
    auto* shown = new QPushButton(QStringLiteral("导出 Excel（显示内容）"));
    shown->setToolTip(QStringLiteral("按屏幕上的列顺序写出显示的文字"));
    connect(shown, &QPushButton::clicked, this, [this] { export_grid(true); });
    row->addWidget(automation);
    row->addWidget(shown);
    return box;
}

std::unique_ptr<rt::datawindow> w_gallery::shown_grid() const
{
    // The grid as the runtime describes it: sex is stored as a code and shown as its text.
    static const QString definition =
        QStringLiteral("release 1;\n"
                       "table(column=(type=char(10) name=zkzh dbname=\"zkzh\")\n"
                       "column=(type=char(20) name=xm dbname=\"xm\")\n"
                       "column=(type=char(1) name=xb dbname=\"xb\" values=\"男\t1/女\t2/\")\n"
                       "column=(type=char(10) name=km dbname=\"km\")\n"
                       "column=(type=long name=cj dbname=\"cj\"))\n"
                       "text(name=zkzh_t band=header text=\"准考证号\" x=\"10\")\n"
                       "text(name=xm_t band=header text=\"姓名\" x=\"300\")\n"
                       "text(name=xb_t band=header text=\"性别\" x=\"600\")\n"
                       "text(name=km_t band=header text=\"科目\" x=\"800\")\n"
                       "text(name=cj_t band=header text=\"成绩\" x=\"1000\")\n"
                       "column(name=zkzh band=detail x=\"10\" visible=\"1\")\n"
                       "column(name=xm band=detail x=\"300\" visible=\"1\")\n"
                       "column(name=xb band=detail x=\"600\" visible=\"1\")\n"
                       "column(name=km band=detail x=\"800\" visible=\"1\")\n"
                       "column(name=cj band=detail x=\"1000\" visible=\"1\")\n");
    auto dw = std::make_unique<rt::datawindow>();
    QString error;
    if (dw->create(definition, error) != 1)
        return nullptr;
    for (int r = 0; r < proxy_->rowCount(); ++r) {
        const auto text = [&](int column) { return proxy_->index(r, column).data().toString(); };
        const long row = dw->insertrow(0);
        dw->setitem(row, 1, text(0));
        dw->setitem(row, 2, text(1));
        dw->setitem(row, 3, text(2) == u"男" ? QStringLiteral("1") : QStringLiteral("2"));
        dw->setitem(row, 4, text(3));
        dw->setitem(row, 5, rt::decimal(proxy_->index(r, 4).data().toInt()));
    }
    return dw;
}

void w_gallery::export_grid(bool display_texts)
{
    const QString start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
                          (display_texts ? QStringLiteral("/考生成绩（显示内容）.xlsx")
                                         : QStringLiteral("/考生成绩.xlsx"));
    // Both exports ask before they replace a file, with the same question; the dialog need not
    // ask as well.
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出为 Excel 工作簿"), start, QStringLiteral("Excel 工作簿 (*.xlsx)"),
        nullptr, QFileDialog::DontConfirmOverwrite);
    if (!file.isEmpty())
        export_file(file, display_texts);
}

void w_gallery::set_message_handler(lumora::host::messagebox_handler handler)
{
    handler_ = handler;
    lumora::host::set_messagebox_handler(std::move(handler));
}

int w_gallery::message(const lumora::host::message& m)
{
    if (handler_)
        return handler_(m);
    using icon = lumora::host::message_icon;
    QMessageBox box(this);
    box.setWindowTitle(m.title);
    box.setText(m.text);
    box.setIcon(m.icon == icon::stop          ? QMessageBox::Critical
                : m.icon == icon::exclamation ? QMessageBox::Warning
                : m.icon == icon::question    ? QMessageBox::Question
                                              : QMessageBox::Information);
    if (m.buttons == lumora::host::message_buttons::yes_no) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? 1 : 2;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return 1;
}

bool w_gallery::export_file(const QString& file, bool display_texts)
{
    const std::unique_ptr<rt::datawindow> dw = shown_grid();
    if (!dw)
        return false;
    const QString title = lumora::host::sys_ts().value_or(QString());
    bool saved = false;
    if (display_texts) {
        // The question and the reports of the automation export, so that both read alike.
        if (QFileInfo::exists(file) &&
            message({QStringLiteral("保存"), file + QStringLiteral("已经存在,是否覆盖?"),
                     lumora::host::message_icon::exclamation,
                     lumora::host::message_buttons::yes_no}) != 1)
            return false;
        saved = lumora::dw_saveas_exl(dw.get(), file);
        message({title, saved ? QStringLiteral("导出成功!") : QStringLiteral("导出数据失败!"),
                 saved ? lumora::host::message_icon::information : lumora::host::message_icon::stop,
                 lumora::host::message_buttons::ok});
    } else {
        try {
            // It asks and reports in its own message boxes.
            saved = lumora::uf_dwsaveas_excel(dw.get(), file) == 1 && QFileInfo::exists(file);
        } catch (const rt::runtime_error& e) {
            message({title, QStringLiteral("电子表格程序出错：%1").arg(QString::fromUtf8(e.what())),
                     lumora::host::message_icon::stop, lumora::host::message_buttons::ok});
        }
    }
    bar_->of_settext(0, saved ? QStringLiteral("已导出 %1 行：%2").arg(dw->rowcount()).arg(file)
                              : QStringLiteral("未导出：%1").arg(file));
    return saved;
}
