#pragma once

#include <QString>

class w_gallery;

/// Both grid exports of `window`'s candidates into `dir`; the message boxes printed and answered:
/// Yes to "replace?" only with `overwrite`. Returns the exit status: 0 when both were written.
int export_to(w_gallery& window, const QString& dir, bool overwrite);
