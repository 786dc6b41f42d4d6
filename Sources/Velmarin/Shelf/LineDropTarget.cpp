#include "Velmarin/Shelf/LineDropTarget.h"

#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/MimeDataPasteboard.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/ClosureMenuItem.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineInputFeedbackLabel.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/RopeSettingsButton.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QTimer>

#include <algorithm>

namespace tolvex {

namespace {

const QStringList imageTypes{QString::fromUtf16(PasteboardType::png), QString::fromUtf16(PasteboardType::tiff),
    QString::fromUtf16(PasteboardType::jpeg), QString::fromUtf16(PasteboardType::heic)};

// A drop keeps its content and says it was dropped, whatever the reader
// recorded about where it came from.
ImportRequest markedAsDropped(const ImportRequest& request)
{
    SourceRecord dropped;
    dropped.origin = ImportOrigin::drop;
    dropped.isManuallyRegistered = false;
    if (const auto* file = request.asFile())
        return ImportRequest::file(file->url, ImportOrigin::drop);
    if (const auto* image = request.asImageData())
        return ImportRequest::imageData(image->bytes, dropped);
    return ImportRequest::text(request.asText()->text, dropped);
}

} // namespace

LineDropTarget::LineDropTarget(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setAttribute(Qt::WA_NoSystemBackground);
    const Localizer localizer = appLocalizer();
    setAccessibleName(localizer.string(MessageKey::dropHint));
    button_ = new RopeSettingsButton(this);
    button_->setAccessibleName(localizer.string(MessageKey::noteNew));
    button_->setToolTip(localizer.string(MessageKey::noteHint));
    const QPointer<LineDropTarget> weak(this);
    button_->menuProvider = [weak]() -> QMenu* { return weak ? weak->ropeMenu() : nullptr; };
    connect(button_, &QAbstractButton::clicked, this, [this] { newNote(); });
    label_ = new LineInputFeedbackLabel(this);
    button_->setEnabled(canNewNote());
    layoutChildren();
}

void LineDropTarget::setFeedback(const QString& text)
{
    feedback_ = text;
    label_->setFeedback(text);
}

void LineDropTarget::resizeEvent(QResizeEvent*)
{
    layoutChildren();
}

void LineDropTarget::layoutChildren()
{
    // The target is inset 50 points on each side of the rope.
    const double ropeWidth = width() + 100.0;
    const QRectF region = LineInputLayout::settingsRegion(ropeWidth);
    const QRect inTarget = region.translated(-50, 0).toAlignedRect();
    QWidget* host = button_->parentWidget();
    button_->setGeometry(host == this ? inTarget : QRect(mapTo(host, inTarget.topLeft()), inTarget.size()));
    button_->ropeWidth = ropeWidth;
    button_->ropeOrigin = QPointF(inTarget.x() + 50, inTarget.y());
    button_->update();
    label_->setGeometry(12, 0, std::max(inTarget.x() - 24, 0), 24);
}

int LineDropTarget::candidateCount(const QList<PasteboardItem>& items)
{
    if (items.size() > largestDrop)
        return 0;
    QList<const PasteboardItem*> theirs;
    for (const PasteboardItem& item : items) {
        if (!item.hasType(QString::fromUtf16(PasteboardType::ownCopy)))
            theirs.append(&item);
    }
    auto count = [&](auto&& accepts) {
        return static_cast<int>(std::count_if(theirs.begin(), theirs.end(), accepts));
    };
    const int files = count([](const PasteboardItem* item) { return item->hasType(QString::fromUtf16(PasteboardType::fileURL)); });
    if (files > 0)
        return files;
    const int images = count([](const PasteboardItem* item) {
        return std::any_of(imageTypes.begin(), imageTypes.end(), [&](const QString& t) { return item->hasType(t); });
    });
    if (images > 0)
        return images;
    return count([](const PasteboardItem* item) { return item->hasType(QString::fromUtf16(PasteboardType::string)); });
}

Qt::DropAction LineDropTarget::hover(const QMimeData* data, Qt::DropActions offered, bool fromThisProgram)
{
    // A card dragged out of this program is never taken back in.
    if (!(offered & Qt::CopyAction) || fromThisProgram) {
        onHover(0);
        return Qt::IgnoreAction;
    }
    const int count = canReceive() ? candidateCount(MimeDataPasteboard::itemsOf(data)) : 0;
    onHover(count);
    return count > 0 ? Qt::CopyAction : Qt::IgnoreAction;
}

bool LineDropTarget::receive(std::shared_ptr<Pasteboard> pasteboard)
{
    if (!canReceive()) {
        onHover(0);
        return false;
    }
    ClipboardContents contents;
    try {
        SystemClipboardGateway gateway(std::move(pasteboard));
        // A drop's data is already in this process: the read has ended here.
        contents = gateway.readSnapshot(ClipboardPreference(true, true, true, true, true)).result();
    } catch (...) {
        // Told only once the drop has been answered: the report may run an
        // alert, whose modal loop would keep the drag source waiting for the
        // answer for as long as the alert is up.
        QTimer::singleShot(0, this, [this, error = std::current_exception()] { onRejected(error); });
        onHover(0);
        return false;
    }
    if (contents.isSelfProduced || contents.requests.isEmpty() || !canReceive()) {
        onHover(0);
        return false;
    }
    QList<ImportRequest> requests;
    requests.reserve(contents.requests.size());
    for (const ImportRequest& request : contents.requests)
        requests.append(markedAsDropped(request));
    const bool accepted = onReceive(requests);
    onHover(0);
    return accepted;
}

void LineDropTarget::dragEnterEvent(QDragEnterEvent* event)
{
    const Qt::DropAction action = hover(event->mimeData(), event->possibleActions(), event->source() != nullptr);
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void LineDropTarget::dragMoveEvent(QDragMoveEvent* event)
{
    const Qt::DropAction action = hover(event->mimeData(), event->possibleActions(), event->source() != nullptr);
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void LineDropTarget::dragLeaveEvent(QDragLeaveEvent*)
{
    onHover(0);
}

void LineDropTarget::dropEvent(QDropEvent* event)
{
    if (event->source() != nullptr) {
        onHover(0);
        event->ignore();
        return;
    }
    // The data lives as long as this event; the reader is done with it
    // before the event returns.
    if (receive(std::make_shared<MimeDataPasteboard>(event->mimeData()))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void LineDropTarget::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = ropeMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

QMenu* LineDropTarget::ropeMenu()
{
    if (ropeMenuProvider) {
        if (QMenu* menu = ropeMenuProvider())
            return menu;
    }
    auto* menu = new QMenu();
    const Localizer localizer = appLocalizer();
    const QPointer<LineDropTarget> weak(this);
    auto add = [&](MessageKey key, bool enabled, std::function<void()> action) {
        auto* item = new ClosureMenuItem(localizer.string(key), std::move(action), menu);
        item->setEnabled(enabled);
        menu->addAction(item);
        return item;
    };
    add(MessageKey::noteNew, canNewNote(), [weak] {
        if (weak)
            weak->onNewNote();
    });
    add(MessageKey::pasteInput, canReceive(), [weak] {
        if (weak)
            weak->onPaste();
    });
    add(MessageKey::intakeSettings, canOpenSettings(), [weak] {
        if (weak)
            weak->onOpenSettings();
    })->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    return menu;
}

void LineDropTarget::newNote()
{
    if (canNewNote())
        onNewNote();
}

QWidget* LineDropTarget::settingsHit(QPointF point, const QWidget* view, const QWidget* ordinaryHit) const
{
    const QPointF local = view ? button_->mapFromGlobal(view->mapToGlobal(point)) : point;
    if (!canOpenSettings() || !QRectF(button_->rect()).contains(local))
        return nullptr;
    if (qobject_cast<const GrabView*>(ordinaryHit) && !button_->isOnStretch(local))
        return nullptr;
    return button_;
}

QRegion LineDropTarget::stretchRegion() const
{
    QRegion region;
    for (int y = 0; y < button_->height(); ++y) {
        for (int x = 0; x < button_->width(); ++x) {
            if (button_->isOnStretch(QPointF(x + 0.5, y + 0.5)))
                region += QRect(x, y, 1, 1);
        }
    }
    return region;
}

void LineDropTarget::hostButtonIn(QWidget* strip)
{
    button_->setParent(strip);
    button_->show();
    layoutChildren();
}

void LineDropTarget::shapeButton(bool cardsOverlap)
{
    if (cardsOverlap)
        button_->setMask(stretchRegion());
    else
        button_->clearMask();
    button_->raise();
}

void DropReceiver::configure(LineDropTarget& target, Line& line)
{
    const QPointer<Line> weak(&line);
    target.canReceive = [weak] { return weak && weak->revealed() && weak->canReceiveInput() && !weak->isCovered(); };
    target.canOpenSettings = [weak] { return weak && weak->revealed() && weak->canOpenIntakeSettings(); };
    target.canNewNote = [weak] {
        return weak && weak->revealed() && weak->canOpenIntakeSettings() && !weak->isCovered();
    };
    target.onReceive = [weak](const QList<ImportRequest>& requests) {
        return weak && weak->onReceiveInput && weak->onReceiveInput(requests);
    };
    target.onHover = [weak](int count) {
        if (weak && weak->dropCount() != count)
            weak->dropCount = count;
    };
    target.onPaste = [weak] {
        if (weak && weak->onPasteInput)
            weak->onPasteInput();
    };
    target.onOpenSettings = [weak] {
        if (weak)
            weak->onOpenIntakeSettings()();
    };
    target.onNewNote = [weak] {
        if (weak)
            weak->onNewNote()();
    };
    target.ropeMenuProvider = line.onRopeMenuProvider;
    target.onRejected = [weak](std::exception_ptr error) {
        if (!weak || !weak->onError)
            return;
        // A picture refused at admission says itself why (too large, or no
        // picture); any other failed read is a source that cannot be taken.
        try {
            std::rethrow_exception(error);
        } catch (const ImageAdmissionError&) {
            weak->onError(error);
        } catch (...) {
            weak->onError(std::make_exception_ptr(StoreError::invalidSource()));
        }
    };
    target.setFeedback(line.dropCount() < 1 ? line.inputFeedback() : QString());
    target.settingsButton()->setEnabled(target.canNewNote());
    target.update();
}

} // namespace tolvex
