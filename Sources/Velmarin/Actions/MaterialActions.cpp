#include "Velmarin/Actions/MaterialActions.h"

#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Texts/SourceFormatter.h"
#include "Velmarin/Actions/CopyOutMimeData.h"
#include "Velmarin/Actions/CopyOutProvider.h"
#include "Velmarin/Actions/ExportedCopy.h"
#include "Velmarin/Actions/FirstFrame.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/OwnedCopyMarker.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Platform/NoApplicationError.h"
#include "Velmarin/Platform/OpenFailedError.h"
#include "Velmarin/Platform/QtClipboardWriter.h"
#include "Velmarin/Platform/QtDesktopOpener.h"
#include "Velmarin/Platform/RevealFailedError.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"

#include <QFileInfo>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace tolvex {

// The privacy guard: recorded when an operation begins, passed while the
// actions and the line live, the line is shown and was not covered since.
struct MaterialActions::Guard {
    QPointer<const MaterialActions> actions;
    QPointer<Line> line;
    std::uint64_t epoch = 0;

    bool holds() const { return actions && line && !line->isCovered() && line->privacyEpoch() == epoch; }
    void check() const
    {
        if (!holds())
            throw StoreError::invalidSource();
    }
};

namespace {

ClipboardWriter& systemClipboard()
{
    static QtClipboardWriter writer;
    return writer;
}

DesktopOpener& systemDesktop()
{
    static QtDesktopOpener opener;
    return opener;
}

} // namespace

MaterialActions::MaterialActions(Line& line, QUrl root, MaterialStore* store, ClipboardWriter* clipboard,
    DesktopOpener* desktop, Markup* markup)
    : line_(&line), root_(std::move(root)), store_(store), clipboard_(clipboard ? *clipboard : systemClipboard()),
      desktop_(desktop ? *desktop : systemDesktop()), markup_(markup ? *markup : Markup::shared())
{
}

MaterialStore& MaterialActions::store() const
{
    if (!store_)
        throw StoreError::invalidSource();
    return *store_;
}

MaterialActions::Guard MaterialActions::guard() const
{
    return Guard{this, line_, line_ ? line_->privacyEpoch() : 0};
}

namespace {

MaterialRecord lookUp(const Line& line, const QUuid& id)
{
    const MaterialRecord* record = line.snapshot->findMaterial(id);
    if (!record)
        throw StoreError::invalidSource();
    return *record;
}

QString extensionOf(const QUrl& file)
{
    return QFileInfo(file.toLocalFile()).suffix();
}

} // namespace

QCoro::Task<QUrl> MaterialActions::exportActive(MaterialRecord record, QUrl payload, Guard guard)
{
    QCoro::Task<QUrl> exporting = awaitResult(
        store().exportCopy(record.id, record.activeVersionID, exportDestination(root_, record, extensionOf(payload))));
    const QUrl copy = co_await std::move(exporting);
    QCoro::Task<void> clearing = clearExecuteBits(copy);
    co_await std::move(clearing);
    guard.check();
    co_return copy;
}

QCoro::Task<QUrl> MaterialActions::locateActive(MaterialRecord record, Guard guard)
{
    QCoro::Task<QUrl> locating = awaitResult(store().payloadURL(record.id, record.activeVersionID));
    const QUrl payload = co_await std::move(locating);
    guard.check();
    co_return payload;
}

QCoro::Task<void> MaterialActions::copy(QUuid id, bool includeSource)
{
    const Guard guard = this->guard();
    guard.check();
    const MaterialRecord record = lookUp(*line_, id);
    QCoro::Task<QUrl> locating = locateActive(record, guard);
    const QUrl payload = co_await std::move(locating);

    auto item = std::make_unique<QMimeData>();
    switch (record.kind) {
    case MaterialKind::image: {
        QFuture<FirstFrameRepresentations> encoding = QtConcurrent::run(
            QThreadPool::globalInstance(), [payload] { return firstFrameRepresentations(payload, false); });
        QCoro::Task<FirstFrameRepresentations> waiting = awaitResult(std::move(encoding));
        const FirstFrameRepresentations frame = co_await std::move(waiting);
        item->setData(QStringLiteral("image/png"), frame.png);
        break;
    }
    case MaterialKind::text: {
        QCoro::Task<QString> reading = readUtf8(payload);
        QString text = co_await std::move(reading);
        if (includeSource) {
            const Localizer localizer = appLocalizer();
            const std::optional<QString> described = SourceFormatter::describe(record.source, localizer);
            text += QStringLiteral("\n\n") + localizer.string(MessageKey::sourceLabel) + u' '
                + described.value_or(localizer.string(MessageKey::sourceMissing));
        }
        item->setText(text);
        break;
    }
    case MaterialKind::pdf:
    case MaterialKind::file: {
        QCoro::Task<QUrl> exporting = exportActive(record, payload, guard);
        const QUrl copy = co_await std::move(exporting);
        item->setUrls({copy});
        break;
    }
    }
    item->setData(ownedCopyMimeType, ownedCopyValue);
    guard.check();

    if (!clipboard_.write(std::move(item)))
        throw StoreError::unavailableSpace();
    line_->copiedID = std::optional<QUuid>(id);
    // A later copy owns the mark; this one clears only its own.
    QTimer::singleShot(copiedMarkDuration, line_.data(), [line = line_, id] {
        if (line && line->copiedID() == std::optional<QUuid>(id))
            line->copiedID = std::optional<QUuid>();
    });
}

QCoro::Task<std::pair<MaterialRecord, QUrl>> MaterialActions::exportedCopy(QUuid id)
{
    const Guard guard = this->guard();
    guard.check();
    MaterialRecord record = lookUp(*line_, id);
    QCoro::Task<QUrl> locating = locateActive(record, guard);
    const QUrl payload = co_await std::move(locating);
    QCoro::Task<QUrl> exporting = exportActive(record, payload, guard);
    const QUrl copy = co_await std::move(exporting);
    co_return std::pair{std::move(record), copy};
}

QCoro::Task<void> MaterialActions::open(QUuid id)
{
    QCoro::Task<std::pair<MaterialRecord, QUrl>> exporting = exportedCopy(id);
    const auto [record, copy] = co_await std::move(exporting);
    if (record.kind == MaterialKind::file) {
        QCoro::Task<void> revealing = revealCopy(copy);
        co_await std::move(revealing);
        co_return;
    }
    QCoro::Task<OpenVerdict> opening = desktop_.openAndConfirm(copy);
    switch (co_await std::move(opening)) {
    case OpenVerdict::opened:
        break;
    case OpenVerdict::noApplication:
        throw NoApplicationError(copy);
    case OpenVerdict::failed:
        throw OpenFailedError(copy);
    }
}

QCoro::Task<void> MaterialActions::reveal(QUuid id)
{
    QCoro::Task<std::pair<MaterialRecord, QUrl>> exporting = exportedCopy(id);
    const auto [record, copy] = co_await std::move(exporting);
    QCoro::Task<void> revealing = revealCopy(copy);
    co_await std::move(revealing);
}

QCoro::Task<void> MaterialActions::revealCopy(QUrl copy)
{
    QCoro::Task<bool> revealing = desktop_.reveal(copy);
    if (!co_await std::move(revealing))
        throw RevealFailedError(copy);
}

QCoro::Task<void> MaterialActions::markup(QUuid id)
{
    const Guard guard = this->guard();
    guard.check();
    MaterialStore& store = this->store();
    const MaterialRecord* found = line_->snapshot->findMaterial(id);
    if (found && found->kind == MaterialKind::image) {
        QCoro::Task<QUrl> locating = awaitResult(store.payloadURL(id, std::nullopt));
        const QUrl payload = co_await std::move(locating);
        QFuture<void> checking
            = QtConcurrent::run(QThreadPool::globalInstance(), [payload] { ImageAdmission::validate(payload); });
        QCoro::Task<void> admitting = awaitResult(std::move(checking));
        co_await std::move(admitting);
    }
    // The store refuses what cannot be marked up.
    QCoro::Task<EditSession> creating = awaitResult(store.createDerivedVersion(id, VersionKind::markup));
    const EditSession session = co_await std::move(creating);
    // A refusal here leaves the session pending for the recovery window.
    guard.check();
    const QPointer<MaterialActions> self(this);
    markup_.edit(session, store, [self, session](EditResult result) {
        if (self)
            launchTask(self->finishMarkup(session, std::move(result)), {});
    });
}

QCoro::Task<void> MaterialActions::finishMarkup(EditSession session, EditResult result)
{
    // Recorded even while the shelf is covered: the edit belongs to the store.
    const QPointer<MaterialActions> self(this);
    try {
        QCoro::Task<WorkspaceSnapshot> finishing = awaitResult(store().finishEditing(session, result));
        const WorkspaceSnapshot snapshot = co_await std::move(finishing);
        if (!self || !line_)
            co_return;
        QCoro::Task<void> rendering = line_->render(snapshot);
        co_await std::move(rendering);
    } catch (...) {
        if (self && onError)
            onError(std::current_exception());
    }
}

QCoro::Task<std::shared_ptr<QMimeData>> MaterialActions::dragProvider(Pegged card)
{
    if (!line_ || line_->isCovered())
        throw StoreError::invalidSource();
    const std::uint64_t epoch = line_->privacyEpoch();
    const QPointer<Line> line = line_;
    auto provider = std::make_shared<CopyOutProvider>(store(), card.id, card.versionID,
        QFileInfo(card.url.toLocalFile()).suffix(),
        [line, epoch] { return line && !line->isCovered() && line->privacyEpoch() == epoch; });
    QCoro::Task<std::shared_ptr<CopyOutMimeData>> preparing = provider->prepareProvider(root_);
    std::shared_ptr<QMimeData> data = co_await std::move(preparing);
    co_return data;
}

} // namespace tolvex
