#include "Velmarin/Shelf/PeggedView.h"

#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/CardFace.h"
#include "Velmarin/Shelf/GlassFrame.h"
#include "Velmarin/Shelf/GrabArea.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/MotionDriver.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTransform>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tolvex {

namespace {

double uniform(double low, double high)
{
    return low + QRandomGenerator::global()->generateDouble() * (high - low);
}

} // namespace

PeggedView::PeggedView(const Pegged& item, Line& line, QWidget* strip, std::function<bool()> reduceMotionSetting)
    : item_(item), line_(&line), strip_(strip), reduceMotion_(std::move(reduceMotionSetting))
{
    grab_ = GrabArea{item_, line_}.make(strip);
    grab_->setAttribute(Qt::WA_Hover);
    grab_->installEventFilter(this);
    grab_->onMenuClosed = [self = QPointer<PeggedView>(this)] {
        if (self)
            self->setHovering(self->grab_->isVisible()
                && self->grab_->rect().contains(self->grab_->mapFromGlobal(QCursor::pos())));
    };
    grab_->show();
    updateToolTip();
    wasReduced_ = reduceMotion();
    wasPressed_ = isPressed();
    wasCopied_ = isCopied();
    lastGust_ = line.gust();
    scale_.set(wasPressed_ ? 0.95 : 1.0);
    flyVisible_.set(item_.flying ? 0 : 1);

    auto changed = [this] { repaintCard(); };
    subscriptions_.push_back(line.pressedID.subscribe([this, changed](const auto&) {
        const bool pressed = isPressed();
        if (pressed != wasPressed_) {
            wasPressed_ = pressed;
            animate(scale_, pressed ? 0.95 : (hovering_ ? 1.035 : 1.0),
                pressed ? Motion::easeInOut(0.45) : Motion::spring(0.3, 0.6));
        }
        changed();
    }));
    subscriptions_.push_back(line.copiedID.subscribe([this, changed](const auto&) {
        const bool copied = isCopied();
        if (copied != wasCopied_) {
            wasCopied_ = copied;
            animate(copiedShown_, copied ? 1 : 0, Motion::easeOut(0.2));
            if (copied)
                nudge(3.0);
        }
        changed();
    }));
    subscriptions_.push_back(line.gust.subscribe([this](std::int64_t gust) {
        if (gust != lastGust_) {
            lastGust_ = gust;
            breeze();
        }
    }));
    subscriptions_.push_back(line.draggingID.subscribe([changed](const auto&) { changed(); }));
    subscriptions_.push_back(line.keyboardID.subscribe([changed](const auto&) { changed(); }));
    refreshFace();
    lastDrawn_ = drawnState();
}

PeggedView::~PeggedView()
{
    if (grab_) {
        GrabArea::dismantle(*grab_);
        grab_->deleteLater();
    }
}

bool PeggedView::isPressed() const
{
    return line_ && line_->pressedID() == item_.id;
}
bool PeggedView::isDragging() const
{
    return line_ && line_->draggingID() == item_.id;
}
bool PeggedView::isCopied() const
{
    return line_ && line_->copiedID() == item_.id;
}
bool PeggedView::isKeyboardSelected() const
{
    return line_ && line_->keyboardID() == item_.id;
}

void PeggedView::updateToolTip()
{
    grab_->setToolTip(item_.displayTitle + QLatin1Char('\n') + appLocalizer().string(MessageKey::materialDetails));
}

void PeggedView::setItem(const Pegged& item)
{
    const bool landed = item_.flying && !item.flying;
    const bool flyingChanged = item_.flying != item.flying;
    const bool faceChanged = !(item_ == item);
    item_ = item;
    if (line_)
        GrabArea{item_, line_}.update(*grab_);
    if (flyingChanged)
        animate(flyVisible_, item_.flying ? 0 : 1, Motion::easeOut(0.16));
    if (landed)
        nudge(2.2);
    if (faceChanged) {
        refreshFace();
        updateToolTip();
    }
    // Reduce Motion turning on sets every card straight at once.
    const bool reduced = reduceMotion();
    if (reduced && !wasReduced_) {
        arrived_ = true;
        arrival_.set(1);
        swing_.set(0);
    }
    wasReduced_ = reduced;
    repaintCard();
}

void PeggedView::place(double x, double pegY)
{
    const bool moved = x != x_ || pegY != pegY_;
    x_ = x;
    pegY_ = pegY;
    if (moved)
        repaintCard();
    grab_->setGeometry(cardRect().toAlignedRect());
    grab_->outsideStrip = strip_ && (x < 0 || x > strip_->width());
}

QSizeF PeggedView::photoSize(const Pegged& item)
{
    const double w = item.thumb.width();
    const double h = item.thumb.height();
    if (item.kind == MaterialKind::image && w > 0 && h > 0) {
        const double s = std::min(photoWidth / w, photoHeight / h);
        return {w * s, h * s};
    }
    return {photoWidth, photoHeight};
}

QString PeggedView::firstLine(const QString& title)
{
    static const QList<QChar> breaks{QChar(0x0A), QChar(0x0B), QChar(0x0C), QChar(0x0D), QChar(0x85), QChar(0x2028),
        QChar(0x2029)};
    QString segment;
    for (const QChar c : title) {
        if (breaks.contains(c)) {
            if (!segment.isEmpty())
                return segment;
            continue;
        }
        segment.append(c);
    }
    return segment.isEmpty() ? title : segment;
}

QRectF PeggedView::cardRect() const
{
    const QSizeF photo = photoSize(item_);
    const double w = photo.width() + 2 * mat;
    const double h = photo.height() + 2 * mat;
    const double top = pegY_ - topAbovePeg + Clothespin::height - pinOverlap;
    return {x_ - w / 2, top, w, h};
}

std::optional<QRectF> PeggedView::hitRect() const
{
    if (item_.falling)
        return std::nullopt;
    return cardRect();
}

double PeggedView::opacity() const
{
    if (item_.falling)
        return 0;
    return std::clamp(arrival_.value(), 0.0, 1.0) * std::clamp(flyVisible_.value(), 0.0, 1.0);
}

bool PeggedView::isAnimating() const
{
    return swing_.isMoving() || arrival_.isMoving() || flyVisible_.isMoving() || scale_.isMoving() || hover_.isMoving()
        || copiedShown_.isMoving();
}

void PeggedView::animate(MotionValue& value, double target, const Motion& motion)
{
    if (reduceMotion() || item_.falling) {
        value.set(target);
        repaintCard();
        return;
    }
    value.animate(target, motion);
    startFrames();
}

void PeggedView::startFrames()
{
    MotionDriver::shared().request(this, [this](double seconds) {
        const double swingBefore = swing_.value();
        for (MotionValue* value : {&swing_, &arrival_, &flyVisible_, &scale_, &hover_, &copiedShown_})
            value->advance(seconds);
        repaintIfChanged(swing_.value() - swingBefore);
        return isAnimating() || awaitsFace();
    });
}

bool PeggedView::awaitsFace() const
{
    // A strip slid out of sight or hidden paints nothing: waiting for a
    // paint there would keep the frames running for good. Its next paint
    // draws the face.
    return faceBehind_ && strip_ && strip_->isVisible() && strip_->visibleRegion().intersects(lastPainted_);
}

void PeggedView::catchUp()
{
    if (awaitsFace())
        startFrames();
}

PeggedView::Drawn PeggedView::drawnState() const
{
    return {x_, drawnTop(), drawnAngle(), opacity(), scale_.value(), std::clamp(hover_.value(), 0.0, 1.0),
        std::clamp(copiedShown_.value(), 0.0, 1.0), isDragging(), isKeyboardSelected()};
}

void PeggedView::repaintIfChanged(double swungThisFrame)
{
    // Most frames of a fading swing move no card by a whole step: nothing
    // on screen changes, so nothing is painted.
    const Drawn now = drawnState();
    if (now == lastDrawn_ && !faceBehind_)
        return;
    Drawn turnedOnly = lastDrawn_;
    turnedOnly.angle = now.angle;
    if (now == turnedOnly && !faceBehind_ && swing_.isMoving() && mayHoldStep(swungThisFrame))
        return;
    repaintCard();
}

bool PeggedView::mayHoldStep(double swungThisFrame) const
{
    // Each paint costs about as much whatever it holds, and the cards of a
    // gust sway out of phase, so at nearly every frame some card steps. A
    // swing that needs two or three frames for a step shows its steps just
    // as well on every second or third frame only, and there the other slow
    // cards' steps share its paint. A held step must still be the card's
    // step when that frame comes: the swing may not reach the next step's
    // edge by then, even a half faster. A held step belongs to a swing still
    // moving, so that frame comes.
    const double speed = std::abs(swungThisFrame) / angleStep_;
    const int pace = speed < 1.0 / 3 ? 3 : speed < 0.5 ? 2 : 1;
    const int late = static_cast<int>(MotionDriver::shared().frameCount() % pace);
    if (late == 0)
        return false;
    const double shownStep = std::round(swing_.value() / angleStep_);
    const double edge = shownStep + (swungThisFrame > 0 ? 0.5 : -0.5);
    const double room = std::abs(edge - swing_.value() / angleStep_);
    return speed * (pace - late) * 1.5 < room;
}

void PeggedView::repaintCard()
{
    lastDrawn_ = drawnState();
    const QRect now = opacity() > 0 ? paintedBounds() : QRect();
    onNeedsPaint(lastPainted_.united(now));
}

double PeggedView::drawnAngle() const
{
    return item_.tilt + std::round(swing_.value() / angleStep()) * angleStep();
}

void PeggedView::updateAngleStep()
{
    // The farthest corner from the pin: the card's bottom corners.
    const QSizeF photo = photoSize(item_);
    const double reach = std::hypot(photo.width() / 2 + mat, Clothespin::height - pinOverlap + photo.height() + 2 * mat);
    const double dpr = strip_ ? strip_->devicePixelRatioF() : 1.0;
    angleStep_ = 180 / std::numbers::pi / (reach * dpr);
    // Below half a step the drawn angle is the tilt for good.
    swing_.setRestTolerance(angleStep_ / 2);
}

double PeggedView::drawnTop() const
{
    return pegY_ - topAbovePeg - dropHeight * (1 - std::clamp(arrival_.value(), 0.0, 1.5));
}

QRectF PeggedView::localBounds() const
{
    const QRectF local = cardRect().translated(-x_, -(pegY_ - topAbovePeg));
    const double scale = scale_.value();
    // The face with its shadow margin, scaled about the card's top centre.
    const QRectF face = local.adjusted(-shadowMargin, -shadowMargin, shadowMargin, shadowMargin);
    const QRectF scaled(face.left() * scale, local.top() + (face.top() - local.top()) * scale, face.width() * scale,
        face.height() * scale);
    // The pin and its shadow.
    QRectF bounds = scaled.united(local).united(QRectF(-Clothespin::width / 2 - 2, -1, Clothespin::width + 4, Clothespin::height + 4));
    if (copiedShown_.value() > 0) {
        // The label hangs across the lower edge, as wide as its text.
        bounds = bounds.united(QRectF(-120, local.bottom() - 24, 240, 56));
    }
    return bounds;
}

QRect PeggedView::paintedBounds() const
{
    QTransform transform;
    transform.translate(x_, drawnTop());
    transform.rotate(drawnAngle());
    return transform.mapRect(localBounds()).adjusted(-2, -2, 2, 2).toAlignedRect();
}

bool PeggedView::drawsPlainFace() const
{
    return scale_.value() == 1 && hover_.value() <= 0 && copiedShown_.value() <= 0 && !isDragging()
        && !isKeyboardSelected();
}

void PeggedView::paintPlainFace(QPainter& painter, const QRectF& local, int& freshFaces) const
{
    // The pivot splits into a whole device pixel, where the face is copied,
    // and the phase inside it, drawn into the face: copying at whole pixels
    // needs no filtering, and the face still sits where a transformed
    // drawing would put it.
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPointF pivot = painter.worldTransform().map(QPointF(x_, drawnTop())) * dpr;
    const QPointF whole(std::floor(pivot.x()), std::floor(pivot.y()));
    const QPointF phase = pivot - whole;
    const int step = static_cast<int>(std::lround((drawnAngle() - item_.tilt) / angleStep()));
    QTransform transform;
    transform.translate(phase.x(), phase.y());
    transform.scale(dpr, dpr);
    transform.rotate(drawnAngle());
    const QRectF unrotated = local.adjusted(-shadowMargin, -shadowMargin, shadowMargin, shadowMargin)
                                 .united(QRectF(-Clothespin::width / 2 - 2, -1, Clothespin::width + 4, Clothespin::height + 4));
    const QRect bounds = transform.mapRect(unrotated).toAlignedRect().adjusted(-1, -1, 1, 1);
    const CardFaceCache::Key key{step, phase.x(), phase.y(), dpr};
    const QImage* face = faceCache_.find(key);
    faceBehind_ = !face && freshFaces <= 0 && !shownFace_.image.isNull() && shownFace_.devicePixelRatio == dpr;
    if (!face && !faceBehind_) {
        face = &faceCache_.face(key, bounds, [&](QPainter& p) {
            // The picture's own edge lies in its transparent shadow margin:
            // smoothing it would change nothing but send the turned copy
            // through the raster engine's slow antialiased path (three
            // times the cost of the face).
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.setTransform(transform, true);
            p.drawPixmap(local.topLeft() - QPointF(shadowMargin, shadowMargin), face_);
            p.setRenderHint(QPainter::Antialiasing);
            pin_.paint(p, QPointF(-Clothespin::width / 2, 0));
        });
        --freshFaces;
    }
    if (!faceBehind_)
        shownFace_ = {*face, bounds.topLeft(), dpr};
    const QImage& shown = shownFace_.image;
    const QTransform toStrip = painter.worldTransform().inverted();
    painter.save();
    painter.resetTransform();
    // At a whole pixel there is nothing to filter; the hint would also take
    // the raster engine off its straight copy.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRectF at(QPointF(whole + shownFace_.offset) / dpr, QSizeF(shown.size()) / dpr);
    if (dpr == 1)
        painter.drawImage(at.topLeft(), shown);
    else
        painter.drawImage(at, shown);
    painter.restore();
    // An earlier face may reach a little past the card's present bounds:
    // the next paint clears it.
    if (faceBehind_)
        lastPainted_ = lastPainted_.united(toStrip.mapRect(at).toAlignedRect());
}

void PeggedView::arrive()
{
    if (!line_)
        return;
    if (!line_->claimArrival(item_.id) || reduceMotion()) {
        arrived_ = true;
        arrival_.set(1);
        swing_.set(0);
        repaintCard();
        return;
    }
    arrived_ = true;
    if (item_.flying) {
        // Stays invisible by the flying rule until the flight lands.
        arrival_.set(1);
        return;
    }
    swing_.set(16);
    arrival_.animate(1, Motion::spring(0.42, 0.72));
    swing_.animate(0, Motion::interpolatingSpring(1, 46, 2.6));
    startFrames();
}

void PeggedView::breeze()
{
    MotionDriver::shared().after(uniform(0, 0.35), this, [this] { nudge(uniform(1.6, 3.4)); });
}

void PeggedView::nudge(double amount)
{
    // A line pulled up is out of sight: its cards rest instead of running
    // frames and repaints nobody sees (the gusts never stop).
    if (reduceMotion() || (line_ && (line_->isCovered() || !line_->revealed()))) {
        swing_.set(0);
        repaintCard();
        return;
    }
    swing_.animate(amount, Motion::easeOut(0.3));
    startFrames();
    MotionDriver::shared().after(0.3, this, [this] {
        if (reduceMotion()) {
            swing_.set(0);
            repaintCard();
            return;
        }
        swing_.animate(0, Motion::interpolatingSpring(1, 38, 2.4));
        startFrames();
    });
}

bool PeggedView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == grab_) {
        if (event->type() == QEvent::HoverEnter || event->type() == QEvent::Enter)
            setHovering(true);
        else if (event->type() == QEvent::HoverLeave || event->type() == QEvent::Leave)
            setHovering(false);
    }
    return false;
}

void PeggedView::setHovering(bool hovering)
{
    if (hovering == hovering_)
        return;
    hovering_ = hovering;
    animate(hover_, hovering ? 1 : 0, Motion::easeOut(0.18));
    if (!isPressed())
        animate(scale_, hovering ? 1.035 : 1.0, Motion::easeOut(0.18));
}

void PeggedView::refreshFace()
{
    // The framed picture, its title and its resting shadow change only with
    // the card, so they are drawn once into a pixmap; each frame then only
    // places it.
    const qreal dpr = strip_ ? strip_->devicePixelRatioF() : 1.0;
    const QSizeF photo = photoSize(item_);
    const QSizeF size(photo.width() + 2 * mat, photo.height() + 2 * mat);
    face_ = QPixmap(((size + QSizeF(2 * shadowMargin, 2 * shadowMargin)) * dpr).toSize());
    face_.setDevicePixelRatio(dpr);
    face_.fill(Qt::transparent);
    faceCache_.clear();
    shownFace_ = {};
    updateAngleStep();
    QPainter painter(&face_);
    const QRectF card(QPointF(shadowMargin, shadowMargin), size);
    const QPalette palette = strip_ ? strip_->palette() : QGuiApplication::palette();
    CardFace::paintShadow(painter, card, 0);
    // The preview keeps off the take-down mark shown there under the pointer.
    CardFace::paint(painter, card, item_, palette,
        QRectF(card.topLeft(), QSizeF(markCentre + markRadius + 2, markCentre + markRadius)));
}

void PeggedView::paint(QPainter& painter, int& freshFaces) const
{
    const double alpha = opacity();
    faceBehind_ = false;
    if (alpha <= 0) {
        lastPainted_ = QRect();
        return;
    }
    lastPainted_ = paintedBounds();
    const QRectF card = cardRect();
    const double top = pegY_ - topAbovePeg;
    // From the pin's top centre.
    const QRectF local = card.translated(-x_, -top);
    painter.save();
    painter.setOpacity(alpha);
    if (cachesFaces && drawsPlainFace()) {
        paintPlainFace(painter, local, freshFaces);
        painter.restore();
        return;
    }
    // Drawn without a face: an earlier face is no stand-in for this drawing.
    shownFace_ = {};
    painter.translate(x_, drawnTop());
    painter.rotate(drawnAngle());
    const double hover = std::clamp(hover_.value(), 0.0, 1.0);

    painter.save();
    painter.translate(0, local.top());
    painter.scale(scale_.value(), scale_.value());
    painter.translate(0, -local.top());
    painter.setOpacity(alpha * (isDragging() ? 0.45 : 1.0));
    // Under the pointer the shadow grows deeper and softer than the one
    // drawn into the face.
    if (hover > 0) {
        painter.save();
        painter.setOpacity(painter.opacity() * hover);
        CardFace::paintShadow(painter, local, 1);
        painter.restore();
    }
    // As in a cached face: the picture's edge lies in its transparent margin.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawPixmap(local.topLeft() - QPointF(shadowMargin, shadowMargin), face_);
    painter.restore();

    // Overlays keep the unscaled frame and are not dimmed while dragging.
    const double markOpacity = isDragging() ? 0 : hover;
    if (markOpacity > 0) {
        painter.save();
        painter.setOpacity(alpha * markOpacity);
        const QPointF centre = local.topLeft() + QPointF(markCentre, markCentre);
        const double s = 0.6 + 0.4 * hover;
        painter.translate(centre);
        painter.scale(s, s);
        // A pale glass disc with a thin cross vanished on the pale card: the
        // disc is the ink and the cross the card's paper, legible on any
        // picture and in either appearance, under the glass's rim.
        const QPalette palette = strip_ ? strip_->palette() : QGuiApplication::palette();
        QColor disc = palette.color(QPalette::Text);
        disc.setAlphaF(0.8);
        painter.setPen(Qt::NoPen);
        painter.setBrush(disc);
        painter.drawEllipse(QPointF(), markRadius, markRadius);
        painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.55), 0.75));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPointF(), markRadius - 0.4, markRadius - 0.4);
        painter.setPen(QPen(PanelAppearance::paper(palette), 1.8, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(-3.2, -3.2), QPointF(3.2, 3.2));
        painter.drawLine(QPointF(-3.2, 3.2), QPointF(3.2, -3.2));
        painter.restore();
    }
    if (isKeyboardSelected()) {
        painter.save();
        painter.setPen(QPen(QGuiApplication::palette().color(QPalette::Highlight), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(local.adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
        painter.restore();
    }
    const double copied = std::clamp(copiedShown_.value(), 0.0, 1.0);
    if (copied > 0) {
        painter.save();
        painter.setOpacity(alpha * copied);
        QFont font;
        font.setPixelSize(11);
        font.setWeight(QFont::DemiBold);
        const QString text = QStringLiteral("\u2713 ") + appLocalizer().string(MessageKey::copied);
        const QFontMetricsF metrics(font);
        const QSizeF size(metrics.horizontalAdvance(text) + 20, metrics.height() + 10);
        const QRectF label(QPointF(-size.width() / 2, local.bottom() - size.height() / 2 + 16 - 4 * (1 - copied)),
            size);
        glassFrame(painter, label, GlassShape::capsule);
        painter.setFont(font);
        painter.setPen(QGuiApplication::palette().color(QPalette::Text));
        painter.drawText(label, Qt::AlignCenter, text);
        painter.restore();
    }
    pin_.paint(painter, QPointF(-Clothespin::width / 2, 0));
    painter.restore();
}

} // namespace tolvex
