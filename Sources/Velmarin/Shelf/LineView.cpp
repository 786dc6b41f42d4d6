#include "Velmarin/Shelf/LineView.h"

#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineDropTarget.h"
#include "Velmarin/Shelf/LineGeometry.h"
#include "Velmarin/Shelf/LineInputView.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/MotionDriver.h"
#include "Velmarin/Shelf/PeggedView.h"
#include "Velmarin/Shelf/RopeSettingsButton.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace tolvex {

namespace {

constexpr double pageStepMinimum = 174;

QFont uiFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QToolButton* chevron(QWidget* parent, Qt::ArrowType arrow, const QString& label)
{
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAccessibleName(label);
    button->resize(22, 22);
    button->hide();
    return button;
}

QString pageCount(qsizetype n)
{
    return MessageFormat::format(QStringLiteral("%lld"), {static_cast<std::int64_t>(n)});
}

// Two 22-point chevrons 14 from the count, padded 12 and 5, centred at (w/2, 195).
QRectF pageCapsule(double w, double countWidth)
{
    const QSizeF size(22 + 14 + countWidth + 14 + 22 + 24, 22 + 10);
    return {QPointF(w / 2 - size.width() / 2, 195 - size.height() / 2), size};
}

} // namespace

bool LineView::systemReduceMotion()
{
    // The desktop has no common switch for reduced motion; the session
    // states it in the environment. Read when asked: the strip and the
    // capture presentation must never disagree.
    return qEnvironmentVariableIntValue("TOLVEX_REDUCE_MOTION") != 0;
}

LineView::LineView(Line& line, QWidget* parent) : QWidget(parent), line_(&line)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    const Localizer localizer = appLocalizer();
    previous_ = chevron(this, Qt::LeftArrow, localizer.string(MessageKey::shelfPrevious));
    next_ = chevron(this, Qt::RightArrow, localizer.string(MessageKey::shelfNext));
    connect(previous_, &QToolButton::clicked, this, [this] {
        if (line_)
            line_->scroll(-std::max(0.75 * line_->viewportWidth(), pageStepMinimum));
    });
    connect(next_, &QToolButton::clicked, this, [this] {
        if (line_)
            line_->scroll(std::max(0.75 * line_->viewportWidth(), pageStepMinimum));
    });
    input_ = new LineInputView(line, this);

    lastRevealed_ = line.revealed();
    reveal_.set(lastRevealed_ ? 0 : hiddenOffset);
    emptyHint_.set(line.items->isEmpty() ? 1 : 0);
    auto later = [this](const auto&) { scheduleRebuild(); };
    subscriptions_.push_back(line.items.subscribe(later));
    subscriptions_.push_back(line.scrollOffset.subscribe(later));
    subscriptions_.push_back(line.viewportWidth.subscribe(later));
    subscriptions_.push_back(line.snapshot.subscribe([this](const WorkspaceSnapshot& snapshot) {
        // Covering drops the cards in this very turn: no card may stay on
        // screen for another frame.
        if (snapshot.privacyHidden)
            dropAllCards();
        scheduleRebuild();
    }));
    subscriptions_.push_back(line.revealed.subscribe([this](bool) { updateReveal(true); }));
    auto repaint = [this](const auto&) { update(); };
    subscriptions_.push_back(line.dropCount.subscribe(repaint));
    subscriptions_.push_back(line.inputFeedback.subscribe(repaint));
    subscriptions_.push_back(line.entryHintDismissed.subscribe(repaint));
    subscriptions_.push_back(line.canOpenIntakeSettings.subscribe(repaint));
    facesRatio_ = devicePixelRatioF();
    rebuild();
}

LineView::~LineView()
{
    cards_.clear();
}

QList<PeggedView*> LineView::cards() const
{
    QList<PeggedView*> result;
    for (const auto& card : cards_)
        result.append(card.get());
    return result;
}

PeggedView* LineView::card(const QUuid& id) const
{
    for (const auto& card : cards_) {
        if (card->item().id == id)
            return card.get();
    }
    return nullptr;
}

void LineView::scheduleRebuild()
{
    if (rebuildPending_)
        return;
    rebuildPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (rebuildPending_)
            rebuild();
    });
}

void LineView::dropAllCards()
{
    for (const auto& card : cards_)
        card->grabView()->hide();
    cards_.clear();
    if (line_)
        line_->hitRects.clear();
    onHitRectsChanged();
    update();
}

void LineView::resizeEvent(QResizeEvent*)
{
    if (line_ && line_->viewportWidth() != width())
        line_->resizeViewport(width());
    rebuild();
}

void LineView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The desktop's light/dark switch: the faces keep the colours they were
    // drawn in.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        refreshFaces();
}

void LineView::refreshFaces()
{
    facesRatio_ = devicePixelRatioF();
    for (const auto& card : cards_)
        card->refreshFace();
    update();
}

void LineView::updateReveal(bool animated)
{
    if (!line_)
        return;
    const bool revealed = line_->revealed();
    if (revealed == lastRevealed_ && !reveal_.isMoving())
        return;
    lastRevealed_ = revealed;
    const double target = revealed ? 0 : hiddenOffset;
    if (!animated || reduceMotion() || line_->isCovered()) {
        reveal_.set(target);
    } else {
        reveal_.animate(target, revealed ? Motion::spring(0.42, 0.82) : Motion::easeIn(0.22));
        requestFrames();
    }
    move(0, static_cast<int>(std::lround(reveal_.value())));
}

void LineView::requestFrames()
{
    // The driver keeps one step per owner, so the slide and the cards' moves
    // share one: a card arriving while the line comes down must not leave
    // the line stuck half-way.
    MotionDriver::shared().request(this, [this](double seconds) { return advanceMotion(seconds); });
}

bool LineView::advanceMotion(double seconds)
{
    bool moving = false;
    if (reveal_.isMoving()) {
        moving = reveal_.advance(seconds);
        move(0, static_cast<int>(std::lround(reveal_.value())));
    }
    if (emptyHint_.isMoving()) {
        moving = emptyHint_.advance(seconds) || moving;
        update();
    }
    bool rowMoved = false;
    for (const auto& card : cards_) {
        auto motion = cardX_.value(card->item().id);
        if (motion && motion->isMoving()) {
            moving = motion->advance(seconds) || moving;
            // The card repaints where it was and where it goes.
            card->place(motion->value(), LineRopeGeometry::pegY(motion->value(), width()));
            rowMoved = true;
        }
    }
    if (rowMoved)
        publishHitRects();
    return moving;
}

void LineView::rebuild()
{
    rebuildPending_ = false;
    if (!line_)
        return;
    const double w = width();
    const QList<Pegged>& items = line_->items();
    const bool covered = line_->isCovered();
    const bool reduced = reduceMotion();

    QList<QUuid> ids;
    ids.reserve(items.size());
    for (const Pegged& item : items)
        ids.append(item.id);
    const bool reordered = ids != lastIDs_;
    lastIDs_ = ids;

    const bool empty = items.isEmpty();
    if ((emptyHint_.target() > 0.5) != empty) {
        if (reduced || covered)
            emptyHint_.set(empty ? 1 : 0);
        else
            emptyHint_.animate(empty ? 1 : 0, Motion::easeInOut(0.3));
    }

    std::vector<std::unique_ptr<PeggedView>> kept;
    QList<QUuid> arrivals;
    if (!covered) {
        for (const int index : line_->presentedIndices(w)) {
            const Pegged& item = items[index];
            auto existing = std::find_if(cards_.begin(), cards_.end(),
                [&](const std::unique_ptr<PeggedView>& card) { return card && card->item().id == item.id; });
            std::unique_ptr<PeggedView> view;
            if (existing != cards_.end()) {
                view = std::move(*existing);
                view->setItem(item);
            } else {
                view = std::make_unique<PeggedView>(item, *line_, this, [this] { return reduceMotion(); });
                view->onNeedsPaint = [this](const QRect& rect) { update(rect); };
                arrivals.append(item.id);
            }
            const double x = line_->cardX(index, w);
            auto& motion = cardX_[item.id];
            if (!motion) {
                motion = std::make_shared<MotionValue>(x);
            } else if (reordered && !reduced && existing != cards_.end()) {
                motion->animate(x, Motion::spring(0.55, 0.78));
            } else if (!motion->isMoving() || !reordered) {
                motion->set(x);
            }
            const double pegY = LineRopeGeometry::pegY(motion->value(), w);
            view->place(motion->value(), pegY);
            view->grabView()->raise();
            kept.push_back(std::move(view));
        }
    }
    cards_ = std::move(kept);
    // Forget the positions of cards that left the row.
    for (auto it = cardX_.begin(); it != cardX_.end();) {
        if (!ids.contains(it.key()))
            it = cardX_.erase(it);
        else
            ++it;
    }
    for (const QUuid& id : arrivals) {
        if (PeggedView* view = card(id))
            view->arrive();
    }
    const bool anyMoving = std::any_of(cardX_.begin(), cardX_.end(), [](const auto& m) { return m->isMoving(); });
    if (anyMoving || emptyHint_.isMoving())
        requestFrames();
    placeChrome();
    publishHitRects();
    input_->refresh();
    // Where a card hangs over the red stretch, the stretch takes only the
    // clicks on the rope itself.
    const QRect button = input_->dropTarget()->settingsButton()->geometry();
    const bool overlap = std::any_of(line_->hitRects.begin(), line_->hitRects.end(),
        [&](const QRectF& rect) { return rect.intersects(QRectF(button)); });
    input_->dropTarget()->shapeButton(overlap);
    update();
}

void LineView::publishHitRects()
{
    if (!line_)
        return;
    const QRectF visible(0, 0, line_->viewportWidth(), LineGeometry::stripHeight);
    QHash<QUuid, QRectF> rects;
    for (const auto& card : cards_) {
        const std::optional<QRectF> rect = card->hitRect();
        if (!rect)
            continue;
        const QRectF clipped = rect->intersected(visible);
        if (clipped.isValid() && !clipped.isEmpty())
            rects.insert(card->item().id, clipped);
    }
    if (rects == line_->hitRects)
        return;
    line_->hitRects = rects;
    onHitRectsChanged();
}

bool LineView::showsPageControls() const
{
    return line_ && line_->contentWidth(line_->viewportWidth()) > line_->viewportWidth();
}

void LineView::placeChrome()
{
    const double w = width();
    input_->setGeometry(QRectF(50, 0, std::max(w - 100, 0.0), 64).toAlignedRect());
    input_->lower();
    const bool pages = showsPageControls();
    previous_->setVisible(pages);
    next_->setVisible(pages);
    if (pages) {
        // The chevrons sit on the ends of the capsule drawn behind them.
        const QRectF capsule = layOutChrome(w).pages;
        previous_->move(static_cast<int>(capsule.left() + 12), static_cast<int>(capsule.center().y() - 11));
        next_->move(static_cast<int>(capsule.right() - 34), static_cast<int>(capsule.center().y() - 11));
        previous_->setEnabled(line_->scrollOffset() > 0);
        next_->setEnabled(line_->scrollOffset()
            < std::max(line_->contentWidth(line_->viewportWidth()) - line_->viewportWidth(), 0.0));
        previous_->raise();
        next_->raise();
    }
}

void LineView::paintEvent(QPaintEvent* event)
{
    if (!line_)
        return;
    // Moved to a screen of another scale: faces drawn for the old one would
    // be scaled at every frame.
    if (devicePixelRatioF() != facesRatio_)
        refreshFaces();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Cards hang a few degrees askew: their faces are pixmaps, and rotated
    // without filtering their text breaks into one-pixel steps.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // A frame repaints only what moved, one rectangle at a time: clipped to
    // one rectangle the raster engine copies a card's face straight, while
    // clipped to a region of several it goes span by span and hands every
    // tall copy to its thread pool, whose wake-ups cost more than the copy.
    const Chrome chrome = layOutChrome(width());
    std::vector<QRect> cardBounds;
    cardBounds.reserve(cards_.size());
    for (const auto& card : cards_)
        cardBounds.push_back(card->paintedBounds());
    int freshFaces = PeggedView::freshFacesPerPaint;
    for (const QRect& area : event->region()) {
        painter.setClipRect(area);
        paintArea(painter, area, chrome, cardBounds, freshFaces);
    }
    for (const auto& card : cards_)
        card->catchUp();
}

LineView::Chrome LineView::layOutChrome(double w) const
{
    Chrome chrome;
    if (line_->showsEntryHint()) {
        chrome.entryHint = appLocalizer().string(MessageKey::redRopeEntryHint);
        const QFont font = uiFont(12, QFont::Medium);
        const double mx = LineInputLayout::settingsRegion(w).center().x();
        const QSizeF size = sizeOf(measuredHint_, chrome.entryHint, font) + QSizeF(20, 10);
        const QPointF centre(std::min(std::max(mx, 140.0), w - 140), 12);
        chrome.entryBubble = QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size);
    }
    if (showsPageControls()) {
        chrome.count = pageCount(line_->items->size());
        chrome.countWidth = std::max(sizeOf(measuredCount_, chrome.count, uiFont(11)).width(), 16.0);
        chrome.pages = pageCapsule(w, chrome.countWidth);
    }
    return chrome;
}

QSizeF LineView::sizeOf(MeasuredText& kept, const QString& text, const QFont& font)
{
    if (kept.text != text || kept.font != font) {
        const QFontMetricsF metrics(font);
        kept = {text, font, QSizeF(metrics.horizontalAdvance(text), metrics.height())};
    }
    return kept.size;
}

const LineView::Stretch& LineView::stretch(double w) const
{
    if (stretch_.width != w) {
        const double mx = LineInputLayout::settingsRegion(w).center().x();
        QPainterPath path
            = LineRopeGeometry::path(w, mx - LineInputLayout::stretchHalfLength, mx + LineInputLayout::stretchHalfLength);
        const QRect bounds = path.boundingRect().adjusted(-3, -3, 3, 3).toAlignedRect();
        stretch_ = {w, std::move(path), bounds};
    }
    return stretch_;
}

void LineView::paintArea(QPainter& painter, const QRect& area, const Chrome& chrome, const std::vector<QRect>& cardBounds,
    int& freshFaces) const
{
    const double w = width();
    paintRope(painter, w);
    input_->paintHighlight(painter);
    paintHints(painter, w, area, chrome);
    for (std::size_t i = 0; i < cards_.size(); ++i) {
        if (area.intersects(cardBounds[i]))
            cards_[i]->paint(painter, freshFaces);
    }
    if (!chrome.count.isEmpty() && area.intersects(chrome.pages.toAlignedRect()))
        paintPageControls(painter, chrome);
    // The red stretch, on top of everything.
    const Stretch& red = stretch(w);
    if (area.intersects(red.bounds)) {
        painter.setPen(QPen(QColor(255, 59, 48), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(red.path);
    }
}

void LineView::paintRope(QPainter& painter, double w) const
{
    // The rope changes only with the width and the palette: drawn once,
    // then blitted at every frame.
    const qreal dpr = devicePixelRatioF();
    const QColor ropeColour = PanelAppearance::rope(palette());
    if (ropeCache_.isNull() || ropeCacheWidth_ != w || ropeCacheColour_ != ropeColour
        || ropeCache_.devicePixelRatio() != dpr) {
        ropeCache_ = renderRope(w, dpr, ropeColour);
        ropeCacheWidth_ = w;
        ropeCacheColour_ = ropeColour;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPointF(0, 0), ropeCache_);
    painter.restore();
}

QImage LineView::renderRope(double w, qreal dpr, const QColor& colour)
{
    const QPainterPath rope = LineRopeGeometry::path(w, -LineRopeGeometry::overhang, w + LineRopeGeometry::overhang);
    // The rope fades out over the outer 8 % at each side: drawn into a
    // layer, then masked by a horizontal gradient.
    // The rope never hangs lower than 24 + 30 points and its shadow.
    const QSizeF area(std::max(w, 1.0), 64);
    QImage layer((area * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(dpr);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.12), 2.6, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.drawPath(rope.translated(0, 1.2));
        p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.22), 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.drawPath(rope.translated(0, 1.2));
        p.setPen(QPen(colour, 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.drawPath(rope);
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.45), 0.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.drawPath(rope.translated(0, -0.35));
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient fade(0, 0, w, 0);
        fade.setColorAt(0, Qt::transparent);
        fade.setColorAt(0.08, Qt::black);
        fade.setColorAt(0.92, Qt::black);
        fade.setColorAt(1, Qt::transparent);
        p.fillRect(QRectF(QPointF(0, 0), area), fade);
    }
    return layer;
}

void LineView::paintHints(QPainter& painter, double w, const QRect& area, const Chrome& chrome) const
{
    if (!chrome.entryHint.isEmpty() && area.intersects(chrome.entryBubble.toAlignedRect())) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(PanelAppearance::paper(palette()));
        painter.drawRoundedRect(chrome.entryBubble, 6, 6);
        painter.setFont(uiFont(12, QFont::Medium));
        painter.setPen(PanelAppearance::forest(palette()));
        painter.drawText(chrome.entryBubble, Qt::AlignCenter, chrome.entryHint);
    }
    const double hint = std::clamp(emptyHint_.value(), 0.0, 1.0);
    // The empty hint shows on an empty line only: no frame of a swaying
    // row lays it out.
    if (hint > 0 && !line_->isCovered()) {
        const Localizer localizer = appLocalizer();
        painter.save();
        painter.setOpacity(hint);
        const QFont font = uiFont(12, QFont::Medium);
        const QString text = localizer.string(MessageKey::emptyHint);
        const QFontMetricsF metrics(font);
        const QSizeF size(metrics.horizontalAdvance(text) + 24, metrics.height() + 12);
        const double y = w > 0 ? LineRopeGeometry::endHeight + LineRopeGeometry::sag(w) + 34 : 58;
        const QRectF capsule(QPointF(w / 2 - size.width() / 2, y - size.height() / 2), size);
        painter.setPen(Qt::NoPen);
        QColor material = PanelAppearance::paper(palette());
        material.setAlphaF(0.85);
        painter.setBrush(material);
        painter.drawRoundedRect(capsule, size.height() / 2, size.height() / 2);
        painter.setFont(font);
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(capsule, Qt::AlignCenter, text);
        painter.restore();
    }
}

void LineView::paintPageControls(QPainter& painter, const Chrome& chrome) const
{
    // Cards swing past the capsule: it is drawn once into an image at its
    // own sub-pixel offset and copied at every frame that touches it.
    QColor paper = PanelAppearance::paper(palette());
    paper.setAlphaF(0.85);
    const PagesLook look{chrome.count, chrome.pages, paper, palette().color(QPalette::Text), uiFont(11),
        devicePixelRatioF()};
    const QRect aligned = chrome.pages.toAlignedRect();
    if (pagesImage_.isNull() || !(look == pagesLook_)) {
        pagesImage_ = QImage((QSizeF(aligned.size()) * look.devicePixelRatio).toSize(),
            QImage::Format_ARGB32_Premultiplied);
        pagesImage_.setDevicePixelRatio(look.devicePixelRatio);
        pagesImage_.fill(Qt::transparent);
        QPainter p(&pagesImage_);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-QPointF(aligned.topLeft()));
        const QRectF& capsule = chrome.pages;
        p.setPen(Qt::NoPen);
        p.setBrush(look.paper);
        p.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        p.setFont(look.font);
        p.setPen(look.text);
        p.drawText(QRectF(capsule.center().x() - chrome.countWidth / 2, capsule.top(), chrome.countWidth,
                       capsule.height()),
            Qt::AlignCenter, chrome.count);
        pagesLook_ = look;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPointF(aligned.topLeft()), pagesImage_);
    painter.restore();
}

} // namespace tolvex
