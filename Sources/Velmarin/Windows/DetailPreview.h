#pragma once

#include "TolvexCore/Model/MaterialRecord.h"

#include <QImage>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

class QVBoxLayout;
class QWidget;

namespace tolvex {

// The preview of the material detail window.
namespace DetailPreview {

// Adds to `column` what the window shows of a material: the thumbnail of an
// image or a PDF (a file symbol without one), the loaded texts of a text as
// (label, text) tabs (a single one untabbed, under a caption with its
// label), or else a line naming its kind and size. Returns the preview.
QWidget* add(QVBoxLayout* column, const MaterialRecord& record, const std::optional<QImage>& thumbnail,
    const QList<std::pair<QString, QString>>& texts);

} // namespace DetailPreview

} // namespace tolvex
