#include "Velmarin/Windows/DetailPreview.h"

#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorTextView.h"

#include <QLabel>
#include <QPixmap>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tolvex::DetailPreview {

using EditorSupport::text;

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
