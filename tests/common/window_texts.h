#pragma once

// The texts a person reads on a window, and the English words among them: for the tests that
// check that Qt's own texts (buttons, dialogs, menus) speak the programs' language. Header only,
// Qt Widgets only, so that tests of the library's host link nothing else.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

namespace qorv::test {

/// Every text shown on `window` and its visible children: the title, labels, buttons, group
/// boxes, edit fields (text and placeholder), combo-box items, menus (with their items) and the
/// column headings of item views. The cells of item views are the user's data, not read.
inline QStringList visible_texts(const QWidget* window)
{
    QStringList texts{window->windowTitle()};
    QList<const QWidget*> widgets{window};
    for (const QWidget* w : window->findChildren<QWidget*>())
        widgets << w;
    for (const QWidget* w : widgets) {
        if (w != window && !w->isVisible())
            continue;
        if (const auto* l = qobject_cast<const QLabel*>(w)) {
            texts << l->text();
        } else if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
            texts << b->text();
        } else if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
            texts << g->title();
        } else if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
            texts << e->displayText() << e->placeholderText();
        } else if (const auto* c = qobject_cast<const QComboBox*>(w)) {
            for (int i = 0; i < c->count(); ++i)
                texts << c->itemText(i);
        } else if (const auto* m = qobject_cast<const QMenu*>(w)) {
            texts << m->title();
            for (const QAction* a : m->actions())
                texts << a->text();
        } else if (const auto* bar = qobject_cast<const QMenuBar*>(w)) {
            for (const QAction* a : bar->actions())
                texts << a->text();
        } else if (const auto* v = qobject_cast<const QAbstractItemView*>(w); v && v->model()) {
            for (int i = 0; i < v->model()->columnCount(); ++i)
                texts << v->model()->headerData(i, Qt::Horizontal).toString();
        }
    }
    return texts;
}

/// The English words in `texts`: runs of two or more Latin letters, apart from those in
/// `allowed` (names and abbreviations), from paths (a word joined to a "/"), whose names are the
/// file system's, and from codes (joined to a digit: digests, hexadecimal and URL encodings).
/// Accelerator markers ("&") do not count.
inline QStringList english_words(const QStringList& texts, const QStringList& allowed = {})
{
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    QStringList found;
    for (const QString& text : texts)
        for (const QString& token :
             QString(text).remove(u'&').split(QRegularExpression(QStringLiteral("\\s+")))) {
            if (token.contains(u'/') || token.contains(QRegularExpression(QStringLiteral("[0-9]"))))
                continue;
            for (auto it = word.globalMatch(token); it.hasNext();) {
                const QString w = it.next().captured();
                if (!allowed.contains(w, Qt::CaseInsensitive) && !found.contains(w))
                    found << w;
            }
        }
    return found;
}

} // namespace qorv::test
