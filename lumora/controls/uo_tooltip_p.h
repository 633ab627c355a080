#pragma once

// Internals of the tooltip service: the handle it gives a control and the text block of a tip.
// The tooltip window is in uo_tooltip_window_p.h.

#include <lumora/controls/uo_tooltip.h>

#include <QByteArray>
#include <QString>

#include <cstdint>

class QWidget;

namespace lumora::detail {

/// The window handle of `w` as a `long` holds it, giving the widget one if it has none; 0 for a
/// null widget.
std::int32_t handle_of(QWidget* w);

/// The text block of a tip: the first 80 characters of `tip` in the ANSI code page, cut to at
/// most uo_tooltip::tip_text_bytes bytes at a character boundary, followed by a zero byte.
QByteArray tip_text_block(const QString& tip);

/// Gives the tool `id` of `control` in `service`'s window the text `tip` and the control's whole
/// area as its rectangle, in place. False when the window has no such tool (any more).
bool update_tool(uo_tooltip& service, QWidget* control, std::int32_t id, const QString& tip);

} // namespace lumora::detail
