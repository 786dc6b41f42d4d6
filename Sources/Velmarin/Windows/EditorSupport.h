#pragma once

#include "TolvexCore/Texts/MessageKey.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QWidget;

namespace tolvex {

class Line;

// Small pieces shared by the editors and the detail window.
namespace EditorSupport {

QString text(MessageKey key);

// Strict UTF-8: nothing when a byte sequence is invalid.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// The window's content is current for an operation that recorded `epoch`.
bool privacyHolds(const Line& line, std::uint64_t epoch);

// A label in the caption style: 13 points, secondary colour.
QLabel* captionLabel(const QString& text, QWidget* parent = nullptr);
// The primary button of a window: forest bezel, large.
void stylePrimary(QPushButton* button);
// The windows' push button, running `handler` on every click.
QPushButton* actionButton(const QString& title, std::function<void()> handler, QWidget* parent = nullptr);

} // namespace EditorSupport

} // namespace tolvex
