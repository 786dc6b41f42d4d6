#include "Velmarin/Windows/DetailPreview.h"

#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Platform/WholeFileReader.h"
#include "Velmarin/Shelf/Thumbnails.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorTextView.h"

#include <QCoro/QCoroFuture>
#include <QLabel>
#include <QPixmap>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <system_error>

namespace tolvex::DetailPreview {

using EditorSupport::text;

namespace {

constexpr std::int64_t previewTextBytes = 1048576;
constexpr int thumbnailPixels = 1600;

QByteArray readText(const QUrl& url)
{
    return readWholeFile(url.toLocalFile(), previewTextBytes);
}

} // namespace

QCoro::Task<std::optional<Loaded>> load(EditorStore& store, MaterialRecord record, std::function<bool()> current)
{
    const QUuid id = record.id;
    Loaded loaded{record, {}, std::nullopt, {}};
    const MaterialVersion* active = record.findVersion(record.activeVersionID);
    auto locating = awaitResult(store.payloadURL(id, record.activeVersionID));
    loaded.payload = co_await std::move(locating);
    if (!current())
        co_return std::nullopt;
    if (record.kind == MaterialKind::image || record.kind == MaterialKind::pdf) {
        auto drawing = awaitResult(QtConcurrent::run(Thumbnails::makeThumbnail, loaded.payload, thumbnailPixels));
        loaded.thumbnail = co_await std::move(drawing);
        if (!current())
            co_return std::nullopt;
    }
    if (record.kind == MaterialKind::text && active && active->byteCount <= previewTextBytes) {
        const MessageKey originalLabel
            = record.source.origin == ImportOrigin::note ? MessageKey::noteOrigin : MessageKey::originalText;
        QList<std::pair<QUuid, MessageKey>> versions;
        if (record.activeVersionID == record.originalVersionID)
            versions = {{record.originalVersionID, originalLabel}};
        else
            versions = {{record.activeVersionID, MessageKey::editedText}, {record.originalVersionID, originalLabel}};
        for (const auto& [versionID, label] : versions) {
            auto locatingVersion = awaitResult(store.payloadURL(id, versionID));
            const QUrl url = co_await std::move(locatingVersion);
            if (!current())
                co_return std::nullopt;
            auto reading = awaitResult(QtConcurrent::run(readText, url));
            const QByteArray bytes = co_await std::move(reading);
            if (!current())
                co_return std::nullopt;
            const std::optional<QString> decoded = EditorSupport::decodeUtf8(bytes);
            if (!decoded || bytes.size() > previewTextBytes)
                throw std::system_error(EILSEQ, std::generic_category());
            loaded.texts.append({text(label), *decoded});
        }
    }
    co_return loaded;
}

QWidget* add(QVBoxLayout* column, const MaterialRecord& record, const std::optional<QImage>& thumbnail,
    const QList<std::pair<QString, QString>>& texts)
{
    const MaterialVersion* active = record.findVersion(record.activeVersionID);
    QWidget* preview = nullptr;
    if (record.kind == MaterialKind::image || record.kind == MaterialKind::pdf) {
        auto* image = new QLabel;
        image->setAlignment(Qt::AlignCenter);
        image->setFixedHeight(260);
        if (thumbnail && !thumbnail->isNull()) {
            image->setPixmap(QPixmap::fromImage(
                thumbnail->scaled(QSize(652, 260), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        } else {
            image->setPixmap(image->style()->standardIcon(QStyle::SP_FileIcon).pixmap(96, 96));
        }
        preview = image;
    } else if (record.kind == MaterialKind::text && !texts.isEmpty()) {
        auto* tabs = new QTabWidget;
        tabs->setFixedHeight(260);
        for (const auto& [label, body] : texts) {
            auto* view = new EditorTextView;
            view->setReadOnly(true);
            view->applyEditorStyle(150);
            view->replaceText(body);
            tabs->addTab(view, label);
        }
        if (texts.size() == 1) {
            tabs->tabBar()->hide();
            tabs->setDocumentMode(true);
            column->addWidget(EditorSupport::captionLabel(texts.first().first));
        }
        preview = tabs;
    } else {
        QString metadata = text(MessageKey::materialMetadata);
        metadata.replace(QStringLiteral("%@"), record.kind == MaterialKind::text ? QStringLiteral("text") : QStringLiteral("file"));
        metadata.replace(QStringLiteral("%d"), QString::number(active ? active->byteCount : 0));
        auto* label = EditorSupport::captionLabel(metadata);
        label->setWordWrap(true);
        preview = label;
    }
    column->addWidget(preview);
    return preview;
}

} // namespace tolvex::DetailPreview
