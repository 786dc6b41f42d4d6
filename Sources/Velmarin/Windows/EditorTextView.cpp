#include "Velmarin/Windows/EditorTextView.h"

#include "Velmarin/Presentation/PanelAppearance.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace tolvex {

EditorTextView::EditorTextView(QWidget* parent) : QTextEdit(parent)
{
    setAcceptRichText(false);
    setUndoRedoEnabled(true);
    setLineWrapMode(QTextEdit::WidgetWidth);
    QObject::connect(document(), &QTextDocument::contentsChange, this,
        [this](int position, int, int added) { documentChanged(position, added); });
}

void EditorTextView::documentChanged(int position, int added)
{
    if (replacing_)
        return;
    // Styling changes formats only.
    const QString shown = document()->toRawText();
    if (shown == exact_.shown())
        return;
    exact_.update(shown, position, shown.size() - (qsizetype(position) + added));
}

void EditorTextView::applyEditorStyle(int lineHeightPercent)
{
    lineHeightPercent_ = lineHeightPercent;
    PanelAppearance::editor(this);
    applyLineHeight();
}

void EditorTextView::applyLineHeight()
{
    QTextBlockFormat paragraph;
    paragraph.setLineHeight(lineHeightPercent_, QTextBlockFormat::ProportionalHeight);
    const bool undoable = document()->isUndoRedoEnabled();
    // Styling is not an edit the user could undo.
    document()->setUndoRedoEnabled(false);
    QTextCursor whole(document());
    whole.select(QTextCursor::Document);
    whole.mergeBlockFormat(paragraph);
    document()->setUndoRedoEnabled(undoable);
    QTextCursor typing = textCursor();
    typing.mergeBlockFormat(paragraph);
    setTextCursor(typing);
}

void EditorTextView::endEditing()
{
    if (!hasMarkedText())
        return;
    QGuiApplication::inputMethod()->commit();
    if (hasMarkedText()) {
        // No input method answered: commit what it showed ourselves.
        QInputMethodEvent commit;
        commit.setCommitString(markedText_);
        inputMethodEvent(&commit);
    }
}

void EditorTextView::clearUndo()
{
    document()->clearUndoRedoStacks();
}

void EditorTextView::replaceText(const QString& text)
{
    markedText_.clear();
    exact_ = ExactText(text);
    replacing_ = true;
    setPlainText(text);
    PanelAppearance::editor(this);
    applyLineHeight();
    replacing_ = false;
    const QString shown = document()->toRawText();
    if (shown != exact_.shown())
        exact_.adopt(shown);
}

bool EditorTextView::admits(const QString& inserted)
{
    if (!maximumBytes_ || inserted.isEmpty())
        return true;
    const QTextCursor cursor = textCursor();
    const std::int64_t replaced = exact_.utf8Bytes(cursor.selectionStart(), cursor.selectionEnd());
    if (exact_.utf8Bytes() - replaced + exact_.utf8BytesTyped(inserted) <= *maximumBytes_)
        return true;
    onInputRefused();
    return false;
}

void EditorTextView::keyPressEvent(QKeyEvent* event)
{
    QString inserted = event->text();
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        inserted = QStringLiteral("\n");
    const bool typesText = !inserted.isEmpty() && (inserted.at(0).isPrint() || inserted == QStringLiteral("\n")
                                                      || inserted == QStringLiteral("\t"));
    if (typesText && !isReadOnly() && !admits(inserted)) {
        event->accept();
        return;
    }
    // On an empty line Qt takes a plain Return for "reset this paragraph's
    // format" and breaks no line; every paragraph here carries the editor's
    // line height, so that Return would be lost. Here it always breaks the
    // line, in the paragraph's own format.
    const Qt::KeyboardModifiers chosen = event->modifiers() & ~Qt::KeypadModifier;
    if (inserted == QStringLiteral("\n") && chosen == Qt::NoModifier && !isReadOnly()) {
        QTextCursor cursor = textCursor();
        cursor.insertBlock();
        setTextCursor(cursor);
        ensureCursorVisible();
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void EditorTextView::inputMethodEvent(QInputMethodEvent* event)
{
    if (!event->commitString().isEmpty() && !admits(event->commitString())) {
        // Drop the whole composition: a partial commit would surprise more.
        QInputMethodEvent cleared;
        QTextEdit::inputMethodEvent(&cleared);
        markedText_.clear();
        event->accept();
        onMarkedTextChanged();
        return;
    }
    QTextEdit::inputMethodEvent(event);
    const bool changed = markedText_ != event->preeditString();
    markedText_ = event->preeditString();
    if (changed)
        onMarkedTextChanged();
}

void EditorTextView::insertFromMimeData(const QMimeData* source)
{
    if (source && source->hasText() && !admits(source->text()))
        return;
    QTextEdit::insertFromMimeData(source);
}

} // namespace tolvex
