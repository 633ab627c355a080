#pragma once

#include <lumora/host.h>

#include <QWidget>

#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace rt {
class datawindow;
}

namespace lumora {
class menu;
class u_statusbar;
class uo_ddlb;
class uo_dh_edit;
class uo_editmask;
class uo_tooltip;
} // namespace lumora

/// The gallery's one window, built as a host application of lumora builds its windows: a menu
/// bar with micro-help, a status bar, the three tooltip-aware inputs sharing one tooltip
/// service, a grid of candidates with its exports, an MD5 box and a panel of encoders and base
/// conversion.
class w_gallery : public QWidget {
    Q_OBJECT

public:
    /// The window with `candidates` sample candidates in its grid.
    explicit w_gallery(int candidates = 300);
    ~w_gallery() override;

    /// Tooltips of the three inputs: 0 none, 1 normal, 2 balloon. The tooltip window's style is
    /// fixed when it is created, so a change of style starts a new service.
    void set_tip_style(int tooltiptype);

    lumora::uo_dh_edit* name_edit() const { return name_; }
    lumora::uo_ddlb* subject_box() const { return subject_; }
    lumora::uo_editmask* number_edit() const { return number_; }
    lumora::uo_tooltip* tooltip_service() const { return tips_.get(); }
    /// Exports the rows shown to the workbook `file`: through the spreadsheet program, or as the
    /// display texts. Both ask before they replace an existing file and report the outcome in a
    /// message box (and in the status bar). True when the workbook was written.
    bool export_file(const QString& file, bool display_texts);
    /// Answers the message boxes of the window and of the library instead of showing them (the
    /// scripted mode); an empty handler shows them again.
    void set_message_handler(lumora::host::messagebox_handler handler);
    /// The status bar, for the host to read.
    lumora::u_statusbar* status_bar() const { return bar_; }
    /// Rows shown in the grid now (after the filter of the inputs).
    int shown_rows() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* make_inputs();
    QWidget* make_grid(int candidates);
    QWidget* make_exports();
    QWidget* make_md5();
    QWidget* make_encoders();
    void make_menu();
    void make_status_bar();
    void set_parts();
    void filter();
    void choose_md5_file();
    /// The rows the grid shows, in its order, as the runtime's data grid that the exports read.
    std::unique_ptr<rt::datawindow> shown_grid() const;
    /// Asks for a file and exports the rows shown: through the spreadsheet program, or as the
    /// display texts.
    void export_grid(bool display_texts);
    /// A message box of the window, shown as the library shows its own; the button pressed (1:
    /// OK or Yes, 2: No).
    int message(const lumora::host::message& m);

    std::unique_ptr<lumora::uo_tooltip> tips_;
    std::unique_ptr<lumora::menu> menu_;
    lumora::uo_dh_edit* name_ = nullptr;
    lumora::uo_ddlb* subject_ = nullptr;
    lumora::uo_editmask* number_ = nullptr;
    QComboBox* tip_style_ = nullptr;
    QStandardItemModel* model_ = nullptr;
    QSortFilterProxyModel* proxy_ = nullptr;
    QTableView* grid_ = nullptr;
    QLineEdit* md5_file_ = nullptr;
    QLabel* md5_result_ = nullptr;
    lumora::u_statusbar* bar_ = nullptr;
    std::vector<lumora::menu*> tip_items_; // the 提示 menu's items, one per style
    lumora::host::messagebox_handler handler_;
};
