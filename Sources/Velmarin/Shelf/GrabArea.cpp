#include "Velmarin/Shelf/GrabArea.h"

#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/ClosureMenuItem.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/Line.h"

#include <QMenu>
#include <QMimeData>

#include <algorithm>

namespace tolvex {

namespace {

bool isNote(const Line& line, const QUuid& id)
{
    const MaterialRecord* record = line.snapshot->findMaterial(id);
    return record && record->source.origin == ImportOrigin::note;
}

// Runs one of the line's callbacks for this card, if both still exist.
template <typename Member>
std::function<void()> forward(QPointer<Line> line, Member member, QUuid id)
{
    return [line, member, id] {
        if (line && (line.data()->*member))
            (line.data()->*member)(id);
    };
}

} // namespace

GrabView* GrabArea::make(QWidget* parent) const
{
    auto* view = new GrabView(parent);
    configure(*view);
    return view;
}

void GrabArea::dismantle(GrabView& view)
{
    view.cancelDragPreparation();
}

void GrabArea::configure(GrabView& view) const
{
    if (!line)
        return;
    const QUuid id = item.id;
    const QPointer<Line> weakLine = line;
    const bool note = isNote(*line, id);

    view.materialID = id;
    view.isContentAvailable = [weakLine, id] {
        if (!weakLine || weakLine->isCovered() || !weakLine->revealed())
            return false;
        const auto& cards = weakLine->items();
        return std::any_of(cards.begin(), cards.end(), [&](const Pegged& c) { return c.id == id && !c.falling; });
    };
    const bool available = view.isContentAvailable();
    const Localizer localizer = appLocalizer();
    view.accessibleLabel = available ? line->cardAccessibilityLabel(item) : QString();
    view.isKeyboardSelected = [weakLine, id] {
        return weakLine && weakLine->keyboardID() == id && !weakLine->isCovered();
    };
    view.accessibleHelp = available
        ? localizer.string(note ? MessageKey::noteContinue : MessageKey::copy) + QStringLiteral(" \u00B7 ")
            + localizer.string(MessageKey::shelfKeyboardHelp)
        : QString();
    const Pegged card = item;
    view.prepareDrag = [weakLine, card]() -> QCoro::Task<std::shared_ptr<QMimeData>> {
        if (!weakLine || !weakLine->onPrepareDrag)
            throw StoreError::invalidSource();
        auto preparing = weakLine->onPrepareDrag(card);
        co_return co_await std::move(preparing);
    };
    view.canDrag = [weakLine, id] { return weakLine && !weakLine->isCovered() && weakLine->pressedID() == id; };
    view.onDragError = [weakLine](std::exception_ptr error) {
        if (weakLine && weakLine->onError)
            weakLine->onError(error);
    };
    view.dragImage = available ? item.thumb : QImage();
    view.singleClickImmediately = note;
    view.onClick = note ? forward(weakLine, &Line::onOpenNote, id) : forward(weakLine, &Line::onCopy, id);
    view.onDoubleClick = note ? forward(weakLine, &Line::onOpenNote, id) : forward(weakLine, &Line::onOpen, id);
    view.onDragStart = [weakLine, id] {
        if (weakLine)
            weakLine->draggingID = id;
    };
    view.onDragEnd = [weakLine] {
        if (weakLine)
            weakLine->draggingID = std::nullopt;
    };
    view.onDiscard = [weakLine, id] {
        if (weakLine && weakLine->onCommand)
            weakLine->onCommand(MaterialCommand::takeDown(id));
    };
    if (note)
        view.onLongPress = forward(weakLine, &Line::onOpenNote, id);
    else if (item.kind == MaterialKind::image || item.kind == MaterialKind::text)
        view.onLongPress = forward(weakLine, &Line::onMarkup, id);
    else
        view.onLongPress = [] {};
    const QPointer<GrabView> weakView(&view);
    view.onPressChange = [weakLine, weakView, id](bool pressed) {
        if (!weakLine)
            return;
        if (pressed) {
            weakLine->pressedID = id;
            weakLine->cancelPress = [weakView] {
                if (weakView)
                    weakView->cancelDragPreparation();
            };
        } else if (weakLine->pressedID() == id) {
            weakLine->pressedID = std::nullopt;
            weakLine->cancelPress = nullptr;
        }
    };
    const GrabArea area = *this;
    view.menuProvider = [area] { return area.cardMenu(); };
}

QMenu* GrabArea::cardMenu() const
{
    auto* menu = new QMenu();
    if (!line)
        return menu;
    const QUuid id = item.id;
    const bool note = isNote(*line, id);
    const Localizer localizer = appLocalizer();
    auto add = [&](MessageKey key, std::function<void()> action) {
        menu->addAction(new ClosureMenuItem(localizer.string(key), std::move(action), menu));
    };
    add(MessageKey::copy, forward(line, &Line::onCopy, id));
    if (item.kind == MaterialKind::text && !note)
        add(MessageKey::copyWithSource, forward(line, &Line::onCopySource, id));
    add(MessageKey::materialDetails, forward(line, &Line::onOpen, id));
    if (note)
        add(MessageKey::noteContinue, forward(line, &Line::onOpenNote, id));
    else if (item.kind == MaterialKind::text)
        add(MessageKey::editText, forward(line, &Line::onMarkup, id));
    else if (item.kind == MaterialKind::image)
        add(MessageKey::markup, forward(line, &Line::onMarkup, id));
    add(MessageKey::showInFinder, forward(line, &Line::onReveal, id));
    menu->addSeparator();
    const QPointer<Line> weakLine = line;
    add(MessageKey::takeDown, [weakLine, id] {
        if (weakLine && weakLine->onCommand)
            weakLine->onCommand(MaterialCommand::takeDown(id));
    });
    return menu;
}

} // namespace tolvex
