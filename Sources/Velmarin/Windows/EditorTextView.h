#pragma once

#include "Velmarin/Windows/ExactText.h"

#include <QTextEdit>

#include <cstdint>
#include <functional>
#include <optional>

class QInputMethodEvent;
class QKeyEvent;
class QMimeData;

namespace tolvex {

// The plain-text view of the note and text editors, styled by the panel
// appearance. Its text is the text it was given, exactly, with the user's
// edits: the document under it would read line breaks, no-break spaces and
// separators back in other forms. It tracks an input-method composition
// ("marked text") so the editors can refuse to save half a word, and can
// refuse input that would grow its text past a byte limit instead of letting
// the store refuse it later. GUI thread only.
class EditorTextView : public QTextEdit {
public:
    explicit EditorTextView(QWidget* parent = nullptr);

    // The editor style, with a line height (percent) of the caller's; kept
    // across replaceText() and palette changes.
    void applyEditorStyle(int lineHeightPercent);

    // A composition is in progress.
    bool hasMarkedText() const { return !markedText_.isEmpty(); }
    // Commits a composition in progress, so that its text counts.
    void endEditing();
    void clearUndo();
    // Sets the whole text in the editor's style.
    void replaceText(const QString& text);
    const QString& text() const { return exact_.text(); }

    // Input that would make the text longer than this many UTF-8 bytes is
    // refused and reported through onInputRefused.
    void setMaximumBytes(std::optional<std::int64_t> bytes) { maximumBytes_ = bytes; }
    std::function<void()> onInputRefused = [] {};
    // A composition started, changed or ended.
    std::function<void()> onMarkedTextChanged = [] {};

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // False (and reported) when inserting `inserted` in place of the
    // selection would pass the limit.
    bool admits(const QString& inserted);
    void applyLineHeight();
    void documentChanged(int position, int added);

    ExactText exact_;
    bool replacing_ = false;
    QString markedText_;
    std::optional<std::int64_t> maximumBytes_;
    int lineHeightPercent_ = 150;
};

} // namespace tolvex
