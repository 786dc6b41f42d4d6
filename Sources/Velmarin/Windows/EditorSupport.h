#pragma once

#include "TolvexCore/Texts/MessageKey.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

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

// Strict UTF-8: nothing when a byte sequence is invalid. A leading
// byte-order mark stays in the text, so the text encodes to the same bytes.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// The window's content is current for an operation that recorded `epoch`.
bool privacyHolds(const Line& line, std::uint64_t epoch);

// After the store refused an editor's write: asks whether to leave without
// the unsaved text (what was last saved stays for the recovery window).
// True to discard. `choose`, when set, answers instead of the alert.
bool confirmDiscard(Line& line, const std::function<bool()>& choose);

// How an editor is left when the store refuses its text.
struct Leaving {
    // The store refused the text and nothing runs: it may be discarded.
    std::function<bool()> canDiscard;
    // True while the question is open: the editor takes nothing meanwhile.
    std::function<void(bool asking)> holdStill;
    std::function<void()> discard;
    // The editor's stand-in for the alert, if any.
    std::function<bool()> choose;
};
// The user closes an editor: `closing` saves its text and closes it. When
// that fails and the text may be discarded, asks whether to, so that a full
// disk never keeps a window open; any other failure is thrown.
QCoro::Task<void> leaveOrDiscard(Line& line, QPointer<QObject> editor, QCoro::Task<void> closing, Leaving leaving);

// A label in the caption style: 13 points, secondary colour.
QLabel* captionLabel(const QString& text, QWidget* parent = nullptr);
// The primary button of a window: forest bezel, large.
void stylePrimary(QPushButton* button);
// The windows' push button, running `handler` on every click.
QPushButton* actionButton(const QString& title, std::function<void()> handler, QWidget* parent = nullptr);

} // namespace EditorSupport

} // namespace tolvex
