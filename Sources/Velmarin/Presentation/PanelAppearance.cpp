#include "Velmarin/Presentation/PanelAppearance.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <cmath>

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

double luminance(const QColor& colour)
{
    const auto channel = [](float value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

void applyPaper(QWidget* window)
{
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, paper(QGuiApplication::palette()));
    window->setPalette(palette);
}

// Puts the paper of the new appearance on its window after a light/dark switch.
class PaperFollower final : public QObject {
public:
    explicit PaperFollower(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::ApplicationPaletteChange)
            applyPaper(window_);
        return false;
    }

private:
    QWidget* window_;
};

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

double contrast(const QColor& one, const QColor& other)
{
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

void paperWindow(QWidget* window)
{
    if (!window)
        return;
    applyPaper(window);
    window->setAutoFillBackground(true);
    new PaperFollower(window);
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
