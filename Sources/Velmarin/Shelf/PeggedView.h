#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Shelf/CardFaceCache.h"
#include "Velmarin/Shelf/Clothespin.h"
#include "Velmarin/Shelf/Motion.h"
#include "Velmarin/Shelf/Pegged.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QRectF>

#include <functional>
#include <optional>

class QPainter;
class QWidget;

namespace tolvex {

class GrabView;
class Line;

// One hanging card: its pin, its framed picture or text, its title row, the
// take-down mark and the "copied" label, swinging from the pin. The strip
// paints every card in one pass (PeggedView::paint); the card's only widget
// is its gesture layer, laid over the card's unscaled, unrotated frame.
class PeggedView final : public QObject {
public:
    static constexpr double photoWidth = 136;
    static constexpr double photoHeight = 104;
    static constexpr double mat = 4;
    static constexpr double dropHeight = 46;
    static constexpr double pinOverlap = 12;
    static constexpr double frameWidth = 150;
    // The card's top lies this far above the rope at its peg.
    static constexpr double topAbovePeg = 9.5;
    // The take-down mark: a disc centred this far into the card from its
    // top-left corner, inside the gesture layer's corner square.
    static constexpr double markCentre = 13;
    static constexpr double markRadius = 10;

    // `strip` paints the card and parents its gesture layer.
    PeggedView(const Pegged& item, Line& line, QWidget* strip, std::function<bool()> reduceMotion);
    ~PeggedView() override;

    const Pegged& item() const { return item_; }
    void setItem(const Pegged& item);
    GrabView* grabView() const { return grab_; }

    // Places the card with its centre at x under the rope height pegY.
    void place(double x, double pegY);
    double centreX() const { return x_; }
    // The card's frame in strip coordinates, before swing, scale and offset.
    QRectF cardRect() const;
    // What the card reports for click pass-through: nothing while falling.
    std::optional<QRectF> hitRect() const;

    // Drawing a face afresh costs about as much as copying every face of a
    // frame, and a gust turns many cards to a new angle step in the same
    // frame: one paint of the strip draws at most this many, and a card
    // left without its face copies the one it showed last until the next.
    static constexpr int freshFacesPerPaint = 3;
    // `freshFaces`: how many faces the paint may still draw afresh.
    void paint(QPainter& painter, int& freshFaces) const;
    // Whether the last paint showed an earlier face than the card's own.
    bool faceBehind() const { return faceBehind_; }
    // Runs frames until a card whose face was behind shows its own.
    void catchUp();
    // Everything paint() draws in the card's present state, in strip
    // coordinates; a change repaints the old and the new one only.
    QRect paintedBounds() const;

    // The picture area: the thumbnail fitted into 136 × 104, or 136 × 104.
    static QSizeF photoSize(const Pegged& item);
    // The title row's text: the first non-empty line of the title.
    static QString firstLine(const QString& title);

    // Draws the face afresh: its content, the strip's palette or its pixel
    // ratio changed.
    void refreshFace();

    void arrive();
    void breeze();
    void nudge(double amount);

    // Inspection for the strip, tests and benchmarks.
    double swing() const { return swing_.value(); }
    bool arrived() const { return arrived_; }
    bool hovering() const { return hovering_; }
    double opacity() const;
    double scale() const { return scale_.value(); }
    bool isAnimating() const;
    // The angle drawn now: the tilt plus the swing in whole steps, each
    // moving the card's farthest corner by one device pixel. A swing that
    // can no longer reach the next step has ended.
    double drawnAngle() const;
    double angleStep() const { return angleStep_; }
    // Off, every frame draws the card transformed (tests compare the two).
    bool cachesFaces = true;
    const CardFaceCache& faceCache() const { return faceCache_; }

    // Asks the strip to repaint a rectangle of its own.
    std::function<void(const QRect&)> onNeedsPaint = [](const QRect&) {};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool reduceMotion() const { return reduceMotion_(); }
    bool isPressed() const;
    bool isDragging() const;
    bool isCopied() const;
    bool isKeyboardSelected() const;
    void animate(MotionValue& value, double target, const Motion& motion);
    void startFrames();
    // Repaints what the card covered and covers now, if anything drawn
    // changed. `swungThisFrame`: how far the swing moved this frame.
    void repaintIfChanged(double swungThisFrame);
    // Whether the new step of a swing may wait for a later frame.
    bool mayHoldStep(double swungThisFrame) const;
    void repaintCard();
    bool awaitsFace() const;
    double drawnTop() const;
    QRectF localBounds() const;
    bool drawsPlainFace() const;
    void paintPlainFace(QPainter& painter, const QRectF& local, int& freshFaces) const;
    // Kept, not asked at each use: the step is read several times a frame
    // for every swinging card, and asking the strip for its pixel ratio goes
    // through its window and screen each time.
    void updateAngleStep();
    void setHovering(bool hovering);
    void updateToolTip();
    static constexpr double shadowMargin = 8;

    Pegged item_;
    QPointer<Line> line_;
    QPointer<QWidget> strip_;
    std::function<bool()> reduceMotion_;
    GrabView* grab_ = nullptr;
    Clothespin pin_;

    double x_ = 0;
    double pegY_ = 24;
    bool arrived_ = false;
    bool hovering_ = false;
    MotionValue swing_;
    MotionValue arrival_;   // 0 up and invisible, 1 in place
    MotionValue flyVisible_{1};
    MotionValue scale_{1};
    MotionValue hover_;     // 0 … 1: shadow and take-down mark
    MotionValue copiedShown_;
    double angleStep_ = 1;
    QPixmap face_;
    mutable CardFaceCache faceCache_;
    // The face copied last, where it lies from the pivot's whole device
    // pixel: what a card shows while its new face waits for a later paint.
    struct ShownFace {
        QImage image;
        QPoint offset;
        qreal devicePixelRatio = 0;
    };
    mutable ShownFace shownFace_;
    mutable bool faceBehind_ = false;
    // What was drawn last, to tell a frame that changes nothing on screen.
    struct Drawn {
        double x = 0, top = 0, angle = 0, alpha = 0, scale = 0, hover = 0, copied = 0;
        bool dragging = false, keyboard = false;
        friend bool operator==(const Drawn&, const Drawn&) = default;
    };
    Drawn drawnState() const;
    Drawn lastDrawn_;
    mutable QRect lastPainted_;

    bool wasPressed_ = false;
    bool wasCopied_ = false;
    bool wasReduced_ = false;
    std::int64_t lastGust_ = 0;
    std::vector<Subscription> subscriptions_;
};

} // namespace tolvex
