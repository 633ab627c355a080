#pragma once

#include <lumora/lumora_export.h>

#include <QComboBox>
#include <QPointer>

#include <cstdint>
#include <memory>

namespace lumora {

class uo_tooltip;

/// A drop-down list box that shows its `tag` text as a tooltip while the mouse rests on it (an
/// editable box over its edit field too) and turns cyan while it has the input focus (white when
/// it loses it).
///
/// Defaults: font "宋体" 12 pt (a face with Chinese glyphs where that one is missing), lowered
/// border, 549 layout units wide with a drop-down list 476 units high. The window that holds the
/// control assigns the shared tooltip service to `tooltip` and keeps it alive as long as the
/// control.
class LUMORA_EXPORT uo_ddlb : public QComboBox {
    Q_OBJECT

public:
    explicit uo_ddlb(QWidget* parent = nullptr);
    ~uo_ddlb() override;

    /// 0: no tooltip; 1: normal tooltip; 2: balloon tooltip.
    std::int16_t tooltiptype = 1;
    /// The shared tooltip service; none until the window assigns one.
    QPointer<uo_tooltip> tooltip;
    /// The control's general-purpose text: its tooltip.
    QString tag;

    /// The tooltip handling of a mouse move at (`xpos`, `ypos`) layout units with the key
    /// flags `flags`: registers the control with the service once (again only when its tag or
    /// size changed) and relays the move. Does nothing when `tooltiptype` is 0 or no service is
    /// assigned. Returns 0.
    long mouse_move(std::uint32_t flags, int xpos, int ypos);
    /// Turns the background cyan, RGB(0, 255, 255).
    void getfocus();
    /// Turns the background white, RGB(255, 255, 255).
    void losefocus();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace lumora
