#pragma once

#include "TolvexCore/Model/MaterialEnums.h"
#include "TolvexCore/Model/SourceRecord.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <variant>

namespace tolvex {

// What intake hands to the store to import.
struct ImportRequest {
    // A file on disk; the store builds the source from the origin and the path.
    struct File {
        QUrl url;
        ImportOrigin origin = ImportOrigin::fileSelection;
    };
    // Image bytes with the complete source to record.
    struct ImageData {
        QByteArray bytes;
        SourceRecord source;
    };
    // A text with the complete source to record.
    struct Text {
        QString text;
        SourceRecord source;
    };

    std::variant<File, ImageData, Text> value;

    static ImportRequest file(QUrl url, ImportOrigin origin) { return {File{std::move(url), origin}}; }
    static ImportRequest imageData(QByteArray bytes, SourceRecord source)
    {
        return {ImageData{std::move(bytes), std::move(source)}};
    }
    static ImportRequest text(QString text, SourceRecord source) { return {Text{std::move(text), std::move(source)}}; }

    const File* asFile() const { return std::get_if<File>(&value); }
    const ImageData* asImageData() const { return std::get_if<ImageData>(&value); }
    const Text* asText() const { return std::get_if<Text>(&value); }
};

} // namespace tolvex
