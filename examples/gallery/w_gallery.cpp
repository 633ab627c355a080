// The gallery window.

#include "w_gallery.h"

#include "candidate_filter.h"
#include "sample_data.h"

#include <lumora/controls/u_statusbar.h>
#include <lumora/controls/uo_ddlb.h>
#include <lumora/controls/uo_dh_edit.h>
#include <lumora/controls/uo_editmask.h>
#include <lumora/controls/uo_tooltip.h>
#include <lumora/host.h>
#include <lumora/menu/menu.h>
#include <lumora/text/u_orlen_fun.h>
#include <lumora/text/u_orlen_md5.h>

#include <rt/value/decimal.h>

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QLabel* result_label()
{
    auto* l = new QLabel;
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setMinimumWidth(260);
    l->setWordWrap(true);
    return l;
}

} // namespace

w_gallery::w_gallery(int candidates)
{
    setWindowTitle(QStringLiteral("lumora 组件展示"));
    // The title of the library's message boxes, as the host application sets it.
    lumora::host::set_sys_ts(QStringLiteral("考务管理"));
    // The window's own layout has no margins, so that the menu bar lies along its top and the
    // status bar along its bottom, the size grip in the corner; the content keeps its margins.
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    frame->addWidget(content, 1);
    layout->addWidget(make_inputs());
    auto* body = new QHBoxLayout;
    body->addWidget(make_grid(candidates), 3);
    auto* side = new QVBoxLayout;
    side->addWidget(make_exports());
    side->addWidget(make_md5());
    side->addWidget(make_encoders());
    side->addStretch();
    body->addLayout(side, 2);
    layout->addLayout(body, 1);
    make_menu();
    make_status_bar();
    set_tip_style(1);
    filter();
    resize(1100, 720);
}

w_gallery::~w_gallery()
{
    // The menu tree takes its menu bar along; the controls refer to the service: they go
    // before it, and the service takes its tooltip window along.
    menu_.reset();
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

QWidget* w_gallery::make_inputs()
{
    auto* box = new QGroupBox(QStringLiteral("考生查询"));
    auto* row = new QHBoxLayout(box);

    name_ = new lumora::uo_dh_edit;
    name_->tag = QStringLiteral("输入考生姓名（可只输入一部分），下表随即筛选");
    name_->setPlaceholderText(QStringLiteral("姓名"));
    subject_ = new lumora::uo_ddlb;
    subject_->tag = QStringLiteral("选择考试科目，只列出该科目的考生");
    subject_->addItem(QStringLiteral("全部科目"));
    subject_->addItems(sample_subjects());
    number_ = new lumora::uo_editmask;
    number_->tag = QStringLiteral("输入准考证号的开头几位数字，下表随即筛选");
    number_->setInputMask(QStringLiteral("9999999999"));
    for (QWidget* w : {static_cast<QWidget*>(name_), static_cast<QWidget*>(subject_),
                       static_cast<QWidget*>(number_)})
        w->setFixedSize(w->size());

    tip_style_ = new QComboBox;
    tip_style_->addItems(
        {QStringLiteral("不显示提示"), QStringLiteral("普通提示"), QStringLiteral("气球提示")});
    tip_style_->setCurrentIndex(1);
    connect(tip_style_, &QComboBox::currentIndexChanged, this, &w_gallery::set_tip_style);

    row->addWidget(new QLabel(QStringLiteral("姓名")));
    row->addWidget(name_);
    row->addSpacing(12);
    row->addWidget(new QLabel(QStringLiteral("科目")));
    row->addWidget(subject_);
    row->addSpacing(12);
    row->addWidget(new QLabel(QStringLiteral("准考证号")));
    row->addWidget(number_);
    row->addStretch();
    row->addWidget(new QLabel(QStringLiteral("提示样式")));
    row->addWidget(tip_style_);

    connect(name_, &QLineEdit::textChanged, this, &w_gallery::filter);
    connect(number_, &QLineEdit::textChanged, this, &w_gallery::filter);
    connect(subject_, &QComboBox::currentIndexChanged, this, &w_gallery::filter);
    return box;
}

void w_gallery::set_tip_style(int tooltiptype)
{
    if (tip_style_ && tip_style_->currentIndex() != tooltiptype)
        tip_style_->setCurrentIndex(tooltiptype); // comes back here through the signal
    // A new service, so that the first control the mouse crosses creates its window in the
    // style chosen now.
    auto next = std::make_unique<lumora::uo_tooltip>();
    const auto t = static_cast<std::int16_t>(tooltiptype);
    name_->tooltiptype = t;
    subject_->tooltiptype = t;
    number_->tooltiptype = t;
    name_->tooltip = next.get();
    subject_->tooltip = next.get();
    number_->tooltip = next.get();
    tips_ = std::move(next);
    for (std::size_t i = 0; i < tip_items_.size(); ++i)
        tip_items_[i]->set_checked(static_cast<int>(i) == tooltiptype);
}

QWidget* w_gallery::make_grid(int candidates)
{
    const QList<candidate> list = sample_candidates(candidates);
    model_ = new QStandardItemModel(static_cast<int>(list.size()), 5, this);
    model_->setHorizontalHeaderLabels({QStringLiteral("准考证号"), QStringLiteral("姓名"),
                                       QStringLiteral("性别"), QStringLiteral("科目"),
                                       QStringLiteral("成绩")});
    for (int r = 0; r < list.size(); ++r) {
        const candidate& c = list.at(r);
        model_->setItem(r, 0, new QStandardItem(c.zkzh));
        model_->setItem(r, 1, new QStandardItem(c.xm));
        model_->setItem(r, 2, new QStandardItem(c.xb));
        model_->setItem(r, 3, new QStandardItem(c.km));
        auto* score = new QStandardItem;
        score->setData(c.cj, Qt::DisplayRole);
        score->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        model_->setItem(r, 4, score);
    }
    auto* proxy = new candidate_filter(this);
    proxy->setSourceModel(model_);
    proxy_ = proxy;
    grid_ = new QTableView;
    grid_->setObjectName(QStringLiteral("dw_candidates"));
    grid_->setModel(proxy_);
    grid_->setSortingEnabled(true);
    grid_->sortByColumn(0, Qt::AscendingOrder);
    grid_->verticalHeader()->hide();
    grid_->setAlternatingRowColors(true);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 8);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return grid_;
}

QWidget* w_gallery::make_md5()
{
    auto* box = new QGroupBox(QStringLiteral("MD5 摘要"));
    auto* form = new QFormLayout(box);
    md5_file_ = new QLineEdit;
    md5_file_->setReadOnly(true);
    md5_file_->setPlaceholderText(QStringLiteral("未选择文件"));
    auto* choose = new QPushButton(QStringLiteral("选择文件…"));
    connect(choose, &QPushButton::clicked, this, &w_gallery::choose_md5_file);
    auto* file_row = new QHBoxLayout;
    file_row->addWidget(md5_file_, 1);
    file_row->addWidget(choose);
    form->addRow(QStringLiteral("文件"), file_row);
    md5_result_ = result_label();
    form->addRow(QStringLiteral("文件摘要"), md5_result_);

    auto* text = new QLineEdit(QStringLiteral("考务管理"));
    auto* text_result = result_label();
    const auto digest = [text, text_result] {
        QString result;
        lumora::u_orlen_md5().uf_md5string(text->text(), result);
        text_result->setText(result);
    };
    connect(text, &QLineEdit::textChanged, this, digest);
    digest();
    form->addRow(QStringLiteral("文本"), text);
    form->addRow(QStringLiteral("文本摘要"), text_result);
    return box;
}

void w_gallery::choose_md5_file()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("选择文件"));
    if (file.isEmpty())
        return;
    md5_file_->setText(file);
    QString digest;
    const QString error = lumora::u_orlen_md5().uf_md5file(file, digest);
    md5_result_->setText(error.isEmpty() ? digest : error.trimmed());
}

QWidget* w_gallery::make_encoders()
{
    auto* box = new QGroupBox(QStringLiteral("编码与进制转换"));
    auto* form = new QFormLayout(box);
    auto* text = new QLineEdit(QStringLiteral("考场 A-01"));
    auto* enc = new QComboBox;
    enc->addItems({QStringLiteral("ANSI（GBK）"), QStringLiteral("UTF-16LE"),
                   QStringLiteral("UTF-8"), QStringLiteral("UTF-16BE")});
    auto* hex = result_label();
    auto* url = result_label();
    const auto encode = [text, enc, hex, url] {
        const lumora::u_orlen_fun fun;
        const auto e = static_cast<lumora::encoding>(enc->currentIndex());
        hex->setText(fun.hexencode(text->text(), e));
        url->setText(fun.urlencode(text->text(), e));
    };
    connect(text, &QLineEdit::textChanged, this, encode);
    connect(enc, &QComboBox::currentIndexChanged, this, encode);
    encode();
    form->addRow(QStringLiteral("文本"), text);
    form->addRow(QStringLiteral("编码"), enc);
    form->addRow(QStringLiteral("十六进制"), hex);
    form->addRow(QStringLiteral("URL 编码"), url);

    auto* number = new QLineEdit(QStringLiteral("2026"));
    auto* base = new QSpinBox;
    base->setRange(2, 36);
    base->setValue(16);
    auto* converted = result_label();
    const auto convert = [number, base, converted] {
        const lumora::u_orlen_fun fun;
        const auto value = rt::decimal::from_text(number->text());
        if (!value) {
            converted->setText(QStringLiteral("不是十进制数"));
            return;
        }
        const QString digits = fun.decto(value, static_cast<std::uint16_t>(base->value()));
        const rt::decimal back = fun.todec(digits, rt::decimal(base->value()));
        converted->setText(QStringLiteral("%1（还原为 %2）").arg(digits, back.to_text()));
    };
    connect(number, &QLineEdit::textChanged, this, convert);
    connect(base, &QSpinBox::valueChanged, this, convert);
    convert();
    auto* number_row = new QHBoxLayout;
    number_row->addWidget(number, 1);
    number_row->addWidget(new QLabel(QStringLiteral("进制")));
    number_row->addWidget(base);
    form->addRow(QStringLiteral("十进制数"), number_row);
    form->addRow(QStringLiteral("转换结果"), converted);
    return box;
}

void w_gallery::make_menu()
{
    // The host's menu: every item carries its micro-help for the status bar.
    menu_ = std::make_unique<lumora::menu>();
    lumora::menu* file = menu_->add_item(QStringLiteral("文件(&F)"));
    lumora::menu* md5 = file->add_item(QStringLiteral("计算文件 MD5(&M)…"),
                                       QStringLiteral("选择一个文件，计算其 MD5 摘要"));
    connect(md5, &lumora::menu::clicked, this, &w_gallery::choose_md5_file);
    file->add_item(QStringLiteral("-"));
    lumora::menu* quit =
        file->add_item(QStringLiteral("退出(&X)"), QStringLiteral("关闭组件展示窗口"));
    connect(quit, &lumora::menu::clicked, this, &QWidget::close);

    lumora::menu* tips = menu_->add_item(QStringLiteral("提示(&T)"));
    const QStringList names = {QStringLiteral("不显示提示(&N)"), QStringLiteral("普通提示(&O)"),
                               QStringLiteral("气球提示(&B)")};
    const QStringList help = {QStringLiteral("输入框不显示提示"),
                              QStringLiteral("输入框显示普通样式的提示"),
                              QStringLiteral("输入框显示气球样式的提示")};
    for (int i = 0; i < names.size(); ++i) {
        lumora::menu* item = tips->add_item(names.at(i), help.at(i));
        connect(item, &lumora::menu::clicked, this, [this, i] { set_tip_style(i); });
        tip_items_.push_back(item);
    }
    menu_->show_in(this);
}

void w_gallery::make_status_bar()
{
    // Part 0: the menu's micro-help, the credits line while no item is highlighted; part 1: the
    // candidates shown; part 2: the clock, driven by the bar's once-a-second timer event. The
    // menu is shown before the bar is made, so the bar finds it.
    bar_ = new lumora::u_statusbar(this, true);
    layout()->addWidget(bar_); // the window's own layout, without margins
    bar_->of_settext(0, lumora::u_statusbar::credits_line());
    const auto tick = [this] {
        bar_->of_settext(
            2, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    };
    connect(bar_, &lumora::u_statusbar::ue_timer, this, tick);
    set_parts();
    tick();
}

void w_gallery::set_parts()
{
    const int w = width();
    bar_->of_setparts({std::max(1, w - 340), std::max(2, w - 180), -1});
}

void w_gallery::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (bar_)
        set_parts();
}

void w_gallery::filter()
{
    static_cast<candidate_filter*>(proxy_)->set(
        number_->text().trimmed(), name_->text().trimmed(),
        subject_->currentIndex() > 0 ? subject_->currentText() : QString());
    if (bar_)
        bar_->of_settext(1, QStringLiteral("共 %1 名考生").arg(shown_rows()));
}

int w_gallery::shown_rows() const
{
    return proxy_->rowCount();
}
