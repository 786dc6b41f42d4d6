#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

namespace tolvex {

// The exact text an editor opened, kept in step with the document that
// shows it. A QTextDocument keeps every character but line breaks: CR LF,
// CR, LF, U+2029 and the two frame marks each become one block separator,
// and the document can no longer tell which it was. This remembers it, so a
// text saved unedited is the text opened, byte for byte, and an edit changes
// only the span it touched. A line break typed anew takes the text's own
// convention (its first CR LF, CR or LF; LF when it has none).
class ExactText {
public:
    ExactText() = default;
    explicit ExactText(QString text);

    const QString& text() const { return text_; }
    // The text as a document holds it (QTextDocument::toRawText()).
    const QString& shown() const { return shown_; }
    std::int64_t utf8Bytes() const { return utf8Bytes_; }

    // Takes the document's new raw text, in which only the characters from
    // `from` up to `keptTail` characters before the end may have changed.
    void update(const QString& shown, qsizetype from, qsizetype keptTail);
    // Starts over from the document's raw text when it is not what this
    // text should show (a character the document changed in a way not
    // foreseen here): nothing then depends on a mapping that does not hold.
    void adopt(const QString& shown);

    // UTF-8 bytes of the shown characters [from, to) in the text.
    std::int64_t utf8Bytes(qsizetype from, qsizetype to) const;
    // UTF-8 bytes that `typed` would add once the document took it in.
    std::int64_t utf8BytesTyped(const QString& typed) const;

    // What a document shows for `text`.
    static QString shownFor(QStringView text);

private:
    // Index in the text of the shown character at `shownIndex`.
    qsizetype textIndex(qsizetype shownIndex) const;
    QString textFor(QStringView shown) const;

    QString text_;
    QString shown_;
    QString lineBreak_ = QStringLiteral("\n");
    std::int64_t utf8Bytes_ = 0;
};

} // namespace tolvex
