// A drop-down list box with a tooltip and a focus colour.

#include "uo_ddlb.h"

#include "tooltip_input_p.h"

#include <QLineEdit>
#include <QPointer>

namespace lumora {

namespace {

// The line edit of an editable box takes the mouse moves over it, so the box would never see the
// pointer there: its moves are handed to the box, in the box's coordinates.
class line_edit_moves final : public QObject {
public:
    explicit line_edit_moves(uo_ddlb* box) : QObject(box), box_(box)
    {
        box->installEventFilter(this);
        if (box->lineEdit() != nullptr)
            watch(box->lineEdit());
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == box_) {
            // A new line edit is polished before it shows (when it is added, it is not yet one).
            if (event->type() == QEvent::ChildPolished && box_->lineEdit() != nullptr &&
                box_->lineEdit() != edit_)
                watch(box_->lineEdit());
        } else if (watched != box_ && event->type() == QEvent::MouseMove) {
            const auto* move = static_cast<QMouseEvent*>(event);
            QMouseEvent mapped(
                QEvent::MouseMove, static_cast<QWidget*>(watched)->mapTo(box_, move->position()),
                move->globalPosition(), move->button(), move->buttons(), move->modifiers());
            detail::dispatch_mouse_move(box_, &mapped, [this](std::uint32_t f, int x, int y) {
                box_->mouse_move(f, x, y);
            });
        }
        return false;
    }

private:
    void watch(QLineEdit* edit)
    {
        edit_ = edit;
        edit->setMouseTracking(true);
        edit->installEventFilter(this);
    }

    uo_ddlb* box_;
    QPointer<QLineEdit> edit_;
};

} // namespace

struct uo_ddlb::Private {
    detail::tip_registration registration;
};

uo_ddlb::uo_ddlb(QWidget* parent) : QComboBox(parent), d(std::make_unique<Private>())
{
    setFrame(true);
    // The height of a drop-down list box is that of its dropped-down list; the closed box keeps
    // its natural height.
    detail::apply_painter_defaults(this, 549, 0);
    setMaxVisibleItems(
        std::max(1, rt::units_to_pixels_y(476, logicalDpiY()) / fontMetrics().height() - 1));
    new line_edit_moves(this);
}

uo_ddlb::~uo_ddlb() = default;

long uo_ddlb::mouse_move(std::uint32_t, int, int)
{
    detail::tip_mouse_move(this, tooltiptype, tooltip.data(), tag, d->registration);
    return 0;
}

void uo_ddlb::getfocus()
{
    detail::set_background(this, detail::focus_color);
}

void uo_ddlb::losefocus()
{
    detail::set_background(this, detail::unfocused_color);
}

void uo_ddlb::mouseMoveEvent(QMouseEvent* event)
{
    detail::dispatch_mouse_move(this, event,
                                [this](std::uint32_t f, int x, int y) { mouse_move(f, x, y); });
    QComboBox::mouseMoveEvent(event);
}

void uo_ddlb::focusInEvent(QFocusEvent* event)
{
    getfocus();
    QComboBox::focusInEvent(event);
}

void uo_ddlb::focusOutEvent(QFocusEvent* event)
{
    losefocus();
    QComboBox::focusOutEvent(event);
}

} // namespace lumora
