#include "Velmarin/Presentation/PanelAppearance.h"

#include <QApplication>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace tolvex::PanelAppearance {

namespace {

struct Pair {
    QColor light;
    QColor dark;
};

const Pair& pairOf(Colour colour)
{
    static const Pair paperPair{QColor::fromRgbF(0.98f, 0.97f, 0.94f), QColor::fromRgbF(0.14f, 0.15f, 0.14f)};
    static const Pair forestPair{QColor::fromRgbF(0.27f, 0.39f, 0.30f), QColor::fromRgbF(0.61f, 0.73f, 0.63f)};
    static const Pair ropePair{QColor::fromRgbF(0.46f, 0.48f, 0.42f), QColor::fromRgbF(0.65f, 0.66f, 0.59f)};
    switch (colour) {
    case Colour::paper: return paperPair;
    case Colour::forest: return forestPair;
    case Colour::rope: return ropePair;
    }
    return paperPair;
}

constexpr qreal lineHeightPercent = 150;
constexpr int inset = 24;
constexpr qreal fontPoints = 17;

} // namespace

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < palette.color(QPalette::WindowText).lightnessF();
}

QColor colour(Colour colour, const QPalette& palette)
{
    const Pair& pair = pairOf(colour);
    return isDark(palette) ? pair.dark : pair.light;
}

void editor(QTextEdit* textView)
{
    if (!textView)
        return;
    QFont font = QApplication::font();
    font.setPointSizeF(fontPoints);
    textView->setFont(font);
    textView->document()->setDefaultFont(font);

    QPalette palette = textView->palette();
    const QPalette source = textView->palette();
    palette.setColor(QPalette::Text, source.color(QPalette::WindowText));
    palette.setColor(QPalette::Base, paper(source));
    textView->setPalette(palette);

    textView->document()->setDocumentMargin(inset);

    // Set, not multiplied: a second application finds 150 % and keeps it.
    QTextBlockFormat paragraph;
    paragraph.setLineHeight(lineHeightPercent, QTextBlockFormat::ProportionalHeight);
    QTextCursor whole(textView->document());
    whole.select(QTextCursor::Document);
    whole.mergeBlockFormat(paragraph);
    QTextCursor typing = textView->textCursor();
    typing.mergeBlockFormat(paragraph);
    textView->setTextCursor(typing);
}

} // namespace tolvex::PanelAppearance
