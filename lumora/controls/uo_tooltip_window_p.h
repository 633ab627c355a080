#pragma once

// The tooltip window of the tooltip service: the widget that answers the tooltip messages.

#include <lumora/controls/uo_tooltip.h>

#include <rt/ui/window_messages.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace lumora::detail {

/// The tooltip window: a top-level widget that keeps tools (control handle, identifier, client
/// rectangle, text) and decides from relayed mouse messages when to show and hide a tip. Normal
/// style paints a plain box under the pointer; balloon style paints a rounded bubble whose
/// pointer touches the mouse position.
class tooltip_window : public QWidget, public rt::message_target {
    Q_OBJECT

public:
    /// Delays in milliseconds, as a tooltip window starts with them.
    static constexpr int default_initial_ms = 500;
    static constexpr int default_autopop_ms = 5000;
    static constexpr int default_reshow_ms = 100;

    explicit tooltip_window(bool balloon);
    ~tooltip_window() override;

    /// Answers a tooltip message (ttm_…); 0 for a message the window does not know.
    rt::lresult window_proc(std::uint32_t msg, rt::wparam wparam, rt::lparam lparam) override;

    bool balloon() const { return balloon_; }
    int tool_count() const { return static_cast<int>(tools_.size()); }
    /// Identifier of the tool whose tip shows now; 0 when none shows.
    std::uint32_t shown_tool() const { return shown_ ? shown_uid_ : 0; }
    /// Text of the tip on show (or last shown).
    QString tip_text() const { return text_; }
    /// The tip of a balloon's stem, in the window's coordinates: where the pointer is.
    QPoint stem_tip() const { return {stem_x_, stem_up_ ? 0 : height() - 1}; }

signals:
    /// The tip of tool `uid` has appeared.
    void tip_shown(quint32 uid);
    /// The tip has disappeared (pointer left, button pressed, display time over, tool gone).
    void tip_hidden();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct tool {
        std::uint32_t flags = 0;
        std::int32_t hwnd = 0;
        std::uint32_t uid = 0;
        QRect rect;
        QString text;
        QPointer<QWidget> widget;
    };

    rt::lresult add_tool(const uo_tooltip::toolinfo* info);
    rt::lresult change_tool(std::uint32_t msg, const uo_tooltip::toolinfo* info);
    void remove_tools_of(std::int32_t hwnd, std::uint32_t uid, bool every_uid);
    void relay(const uo_tooltip::msg* m);
    void set_delay(rt::wparam which, rt::lparam lparam);
    const tool* hit(std::int32_t hwnd, QPoint p) const;
    const tool* find_uid(std::uint32_t uid) const;
    tool* find_tool(std::int32_t hwnd, std::uint32_t uid);
    void show_pending();
    void pop(bool keep_popped);
    void place(const tool& t);

    bool balloon_;
    std::vector<tool> tools_;
    QTimer initial_timer_;
    QTimer autopop_timer_;
    int initial_ms_ = default_initial_ms;
    int reshow_ms_ = default_reshow_ms;
    std::uint32_t pending_uid_ = 0; // tool whose delay runs
    std::uint32_t shown_uid_ = 0;   // tool whose tip shows (or last showed)
    std::uint32_t popped_uid_ = 0;  // tool whose tip timed out; shows again only after leaving
    bool shown_ = false;
    QPoint anchor_; // pointer position in global coordinates, where the tip belongs
    QString text_;
    bool stem_up_ = true;
    int stem_x_ = 0; // the stem's tip from the bubble's left edge
    // Since when no tip shows after one was left: a tool reached soon after shows its tip after
    // the short delay, as one reached straight from a tip does.
    QElapsedTimer left_tip_;
};

} // namespace lumora::detail
