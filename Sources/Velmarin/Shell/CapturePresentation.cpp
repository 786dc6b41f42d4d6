#include "Velmarin/Shell/CapturePresentation.h"

#include "Velmarin/Platform/EventSound.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/Thumbnails.h"
#include "Velmarin/Shell/ShelfPresentation.h"

#include <QCoro/QCoroFuture>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tolvex {

namespace {

// The digest of the payload a material shows; empty when it is not found.
QString activeDigest(const WorkspaceSnapshot& snapshot, const QUuid& materialID)
{
    const MaterialRecord* material = snapshot.findMaterial(materialID);
    const MaterialVersion* version = material ? material->findVersion(material->activeVersionID) : nullptr;
    return version ? version->sha256 : QString();
}

} // namespace

CapturePresentation::CapturePresentation(Line& line, ShelfPresentation& presentation, PresentationPanel& panel,
    PresentationSystem& system, EventSound& sound, UserDefaults& defaults, Hooks hooks)
    : line_(&line), presentation_(presentation), panel_(panel), system_(system), sound_(sound), defaults_(defaults),
      hooks_(std::move(hooks))
{
    if (!hooks_.thumbnail)
        hooks_.thumbnail = Thumbnails::makeThumbnail;
}

std::optional<PresentationScreen> CapturePresentation::panelOrPointerScreen() const
{
    if (auto screen = panel_.screen())
        return screen;
    return system_.screenUnderPointer();
}

bool CapturePresentation::reduceMotion() const
{
    return hooks_.reduceMotion && hooks_.reduceMotion();
}

bool CapturePresentation::lineShown() const
{
    return presentation_.isPresent && presentation_.isRevealed;
}

QCoro::Task<void> CapturePresentation::presentCapture(QUuid id, std::optional<QRectF> area, WorkspaceSnapshot snapshot)
{
    const QPointer<CapturePresentation> self(this);
    const QPointer<Line> line = line_;
    std::optional<CapturePicture> picture = std::exchange(offered_, std::nullopt);
    if (picture && !(Thumbnails::isMadeFromWholeDecode(picture->typeIdentifier) && activeDigest(snapshot, id) == picture->sha256))
        picture.reset();
    if (!line)
        co_return;
    const std::uint64_t epoch = line->privacyEpoch();
    if (line->isCovered() || snapshot.privacyHidden) {
        auto rendering = line->render(snapshot);
        co_await std::move(rendering);
        co_return;
    }

    // The screen that holds most of the capture, else the pointer's.
    std::optional<PresentationScreen> target;
    if (area) {
        double largest = 0;
        for (const PresentationScreen& screen : system_.screens()) {
            const QRectF common = screen.frame.intersected(*area);
            const double size = common.width() * common.height();
            if (size > largest) {
                largest = size;
                target = screen;
            }
        }
    }
    if (!target)
        target = system_.screenUnderPointer();
    presentation_.pendingScreen = target;
    presentation_.place(target);

    const std::optional<PresentationScreen> shownOn = panelOrPointerScreen();
    const bool flies = area && shownOn && system_.fullScreenState(*shownOn) == FullScreen::State::desktop
        && !reduceMotion();
    auto rendering = line->render(snapshot, flies ? std::optional(id) : std::nullopt);
    co_await std::move(rendering);
    if (!self || !line || line->isCovered() || line->privacyEpoch() != epoch)
        co_return;

    presentation_.wanted = true;
    presentation_.refresh();
    const std::optional<PresentationScreen> screen = panelOrPointerScreen();
    if (!screen || system_.fullScreenState(*screen) != FullScreen::State::desktop) {
        line->land(id);
        co_return;
    }
    presentation_.reveal(false, arrivalPeek);
    if (!presentation_.isPresent) {
        line->land(id);
        co_return;
    }
    sound_.playUnlessQuiet(line->isCovered(), defaults_);

    if (flies) {
        QTimer::singleShot(0, this, [this, id, rect = *area, epoch, picture = std::move(picture)] {
            if (line_ && !line_->isCovered() && line_->privacyEpoch() == epoch)
                launchFly(id, rect, picture);
        });
    }
}

void CapturePresentation::launchFly(QUuid id, QRectF area, std::optional<CapturePicture> picture)
{
    // fly() lands the card on every path that does not fly it.
    [[maybe_unused]] auto running = fly(id, area, std::move(picture));
}

QCoro::Task<void> CapturePresentation::fly(QUuid id, QRectF area, std::optional<CapturePicture> picture)
{
    const QPointer<CapturePresentation> self(this);
    const QPointer<Line> line = line_;
    if (!line)
        co_return;
    const std::optional<PresentationScreen> screen = panel_.screen();
    const std::optional<QRectF> target = cardFrame(id);
    const auto card = std::find_if(line->items->begin(), line->items->end(), [&](const Pegged& item) { return item.id == id; });
    if (line->isCovered() || reduceMotion() || !lineShown() || !screen || !target || card == line->items->end()
        || !hooks_.runFlight) {
        line->land(id);
        co_return;
    }

    const double scale = hooks_.scaleOf ? hooks_.scaleOf(*screen) : 1.0;
    const int pixels = std::clamp(static_cast<int>(std::max(area.width(), area.height()) * scale),
        minimumFlightPixels, maximumFlightPixels);
    const QUrl url = card->url;
    const double tilt = card->tilt;
    // Decoding and scaling stay off the GUI thread; the capture's own decode
    // spares a second one of the file.
    const ThumbnailMaker maker = hooks_.thumbnail;
    auto making = QtConcurrent::run([maker, url, pixels, picture = std::move(picture)] {
        return picture ? Thumbnails::thumbnailOfDecode(picture->typeIdentifier, picture->image, pixels) : maker(url, pixels);
    });
    const std::optional<QImage> image = co_await std::move(making);
    if (!self || !line)
        co_return;
    if (!image || image->isNull()) {
        line->land(id);
        co_return;
    }
    hooks_.runFlight({*image, area, *target, tilt, *screen, false, 0, [line, id] {
                          if (line)
                              line->land(id);
                      }});
}

void CapturePresentation::fall(const Pegged& item)
{
    if (!line_ || line_->isCovered() || reduceMotion() || !lineShown() || item.flying || !hooks_.runFlight)
        return;
    const std::optional<PresentationScreen> screen = panel_.screen();
    const std::optional<QRectF> frame = cardFrame(item.id);
    if (!screen || !frame || item.thumb.isNull())
        return;
    hooks_.runFlight({item.thumb, *frame, *frame, item.tilt, *screen, true, fallDuration, {}});
}

std::optional<QRectF> CapturePresentation::cardFrame(const QUuid& id) const
{
    if (!line_)
        return std::nullopt;
    const QList<Pegged>& items = line_->items();
    const auto found = std::find_if(items.begin(), items.end(), [&](const Pegged& item) { return item.id == id; });
    if (found == items.end())
        return std::nullopt;
    const QRectF panel = panel_.frame();
    const double width = panel.width();
    const double x = line_->cardX(static_cast<int>(found - items.begin()), width);
    if (x < 0 || x > width)
        return std::nullopt;

    // The rope sags most in the middle; the card hangs from it.
    constexpr double ropeTop = 24 - 9.5 + 14;
    double ropeHeight = ropeTop;
    if (width > 0) {
        const double t = std::min(x, width) / width;
        ropeHeight = std::min(0.018 * width, 30.0) * 4 * t * (1 - t) + ropeTop;
    }
    QSizeF size(144, 112);
    const QSizeF thumb = found->thumb.size();
    if (thumb.width() > 0 && thumb.height() > 0) {
        const double scale = std::min(136 / thumb.width(), 104 / thumb.height());
        size = QSizeF(thumb.width() * scale + 8, thumb.height() * scale + 8);
    }
    return QRectF(panel.left() + x - size.width() / 2, panel.top() + ropeHeight, size.width(), size.height());
}

} // namespace tolvex
