#pragma once

#include "TolvexCore/Model/MaterialRecord.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <utility>

class QVBoxLayout;
class QWidget;

namespace tolvex {

class EditorStore;

// The preview of the material detail window.
namespace DetailPreview {

// What one preview shows, gathered by load().
struct Loaded {
    MaterialRecord record;
    QUrl payload;
    std::optional<QImage> thumbnail;
    QList<std::pair<QString, QString>> texts;
};

// Gathers, off the GUI thread, what the window shows of the record's
// active version: its thumbnail, or its text (1 MiB at most) and, once
// edited, the original's beside it. Nothing once `current` answers false
// after an await; `store` must outlive the load.
QCoro::Task<std::optional<Loaded>> load(EditorStore& store, MaterialRecord record, std::function<bool()> current);

// Adds to `column` what the window shows of a material: the thumbnail of an
// image or a PDF (a file symbol without one), the loaded texts of a text as
// (label, text) tabs (a single one untabbed, under a caption with its
// label), or else a line naming its kind and size. Returns the preview.
QWidget* add(QVBoxLayout* column, const MaterialRecord& record, const std::optional<QImage>& thumbnail,
    const QList<std::pair<QString, QString>>& texts);

} // namespace DetailPreview

} // namespace tolvex
