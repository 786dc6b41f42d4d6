#pragma once

#include "TolvexCore/Texts/MessageKey.h"

#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class QLayout;
class QProgressBar;
class QVBoxLayout;
class QWidget;

namespace tolvex::SettingsWidgets {

// The building blocks both settings pages and the cleanup sheet share, so
// that their headings, cards and secondary texts look alike.
QString text(MessageKey key);
QLabel* label(const QString& text, int points, bool secondary = false, bool wraps = true);
// A section title: a symbol (from the icon theme, when it has one) and the text, 13 points semibold.
QWidget* heading(MessageKey key, const QString& symbol);
// A rounded card on the control background; `bordered` adds the faint outline of the intake cards.
QFrame* card(bool bordered);
QFrame* divider();
// A row of the key's text, a stretch and a switch (SettingsSwitch); the caller connects `clicked`.
QWidget* switchRow(MessageKey key, QCheckBox** toggle);
QProgressBar* spinner();

} // namespace tolvex::SettingsWidgets
