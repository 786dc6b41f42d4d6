#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Shelf/Motion.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QToolButton;

namespace tolvex {

class Line;
class LineInputView;
class PeggedView;

// The shelf strip: the rope, the rope's input overlay, the entry and empty
// hints, the hanging cards (only those the line presents), the page
// controls and the red stretch, back to front. Everything comes from the
// line; the view only keeps its animations. It slides 222 points up out of
// sight while the line is not revealed, keeps the line's viewport width in
// step with its own and reports where its cards are for click pass-through.
class LineView final : public QWidget {
public:
    static constexpr double hiddenOffset = -222;

    explicit LineView(Line& line, QWidget* parent = nullptr);
    ~LineView() override;

    Line& line() const { return *line_; }

    // Reduce Motion: the override when present, else the system's setting.
    std::optional<bool> reduceMotionOverride;
    static bool systemReduceMotion();
    bool reduceMotion() const { return reduceMotionOverride.value_or(systemReduceMotion()); }

    // Where the strip's top edge is drawn now (0 revealed, -222 hidden).
    double revealOffset() const { return reveal_.value(); }
    // The cards built now, in row order.
    QList<PeggedView*> cards() const;
    PeggedView* card(const QUuid& id) const;

    // Builds and places the presented cards now (normally on the next turn
    // after a change) and publishes their hit rectangles.
    void rebuild();
    // Drops every card at once; the privacy cover calls it.
    void dropAllCards();
    // Run after the cards' hit rectangles on the line have changed.
    std::function<void()> onHitRectsChanged = [] {};

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void scheduleRebuild();
    void publishHitRects();
    void placeChrome();
    void updateReveal(bool animated);
    void requestFrames();
    void refreshFaces();
    // One frame of every motion under way; answers whether any goes on.
    bool advanceMotion(double seconds);
    void paintRope(QPainter& painter, double width) const;
    // The texts drawn over the strip, measured once per paint rather than
    // once per repainted rectangle: a swaying row repaints many.
    struct Chrome {
        QString entryHint; // empty when the hint is not shown
        QRectF entryBubble;
        QString count; // empty when the page controls are not shown
        double countWidth = 0;
        QRectF pages;
    };
    Chrome layOutChrome(double width) const;
    // A text's width and its font's line height, kept while both stay:
    // shaping the same text again at every frame of a swing cost more than
    // drawing it.
    struct MeasuredText {
        QString text;
        QFont font;
        QSizeF size;
    };
    static QSizeF sizeOf(MeasuredText& kept, const QString& text, const QFont& font);
    // The red stretch over the settings region, kept while the width stays.
    struct Stretch {
        double width = -1;
        QPainterPath path;
        QRect bounds;
    };
    const Stretch& stretch(double width) const;
    // `cardBounds`: each card's painted bounds, in the cards' order.
    // `freshFaces`: how many card faces the paint may still draw afresh.
    void paintArea(QPainter& painter, const QRect& area, const Chrome& chrome, const std::vector<QRect>& cardBounds,
        int& freshFaces) const;
    void paintHints(QPainter& painter, double width, const QRect& area, const Chrome& chrome) const;
    void paintPageControls(QPainter& painter, const Chrome& chrome) const;
    bool showsPageControls() const;
    static QImage renderRope(double width, qreal devicePixelRatio, const QColor& colour);

    QPointer<Line> line_;
    // The pixel ratio the cards' faces were drawn at.
    qreal facesRatio_ = 0;
    mutable QImage ropeCache_;
    mutable double ropeCacheWidth_ = -1;
    mutable QColor ropeCacheColour_;
    // The page controls' capsule as last drawn, and what it was drawn for.
    struct PagesLook {
        QString count;
        QRectF capsule;
        QColor paper;
        QColor text;
        QFont font;
        qreal devicePixelRatio = 0;
        bool operator==(const PagesLook&) const = default;
    };
    mutable PagesLook pagesLook_;
    mutable QImage pagesImage_;
    mutable MeasuredText measuredHint_;
    mutable MeasuredText measuredCount_;
    mutable Stretch stretch_;
    std::vector<std::unique_ptr<PeggedView>> cards_;
    QList<QUuid> lastIDs_;
    QHash<QUuid, std::shared_ptr<MotionValue>> cardX_;
    MotionValue reveal_{hiddenOffset};
    MotionValue emptyHint_;
    bool rebuildPending_ = false;
    bool lastRevealed_ = false;
    QToolButton* previous_ = nullptr;
    QToolButton* next_ = nullptr;
    LineInputView* input_ = nullptr;
    std::vector<Subscription> subscriptions_;
};

} // namespace tolvex
