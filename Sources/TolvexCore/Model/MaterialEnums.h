#pragma once

#include "TolvexCore/Model/RawEnum.h"

namespace tolvex {

enum class MaterialKind { image, text, pdf, file };
enum class MaterialStatus { hanging, takenDown, archived, trashed, needsReview };
enum class VersionKind { original, textEdit, markup };
enum class ImportOrigin { screenshot, fileSelection, drop, clipboard, note };

template <>
struct RawEnumTraits<MaterialKind> {
    static constexpr std::array<std::string_view, 4> rawValues{"image", "text", "pdf", "file"};
};
template <>
struct RawEnumTraits<MaterialStatus> {
    static constexpr std::array<std::string_view, 5> rawValues{"hanging", "takenDown", "archived", "trashed", "needsReview"};
};
template <>
struct RawEnumTraits<VersionKind> {
    static constexpr std::array<std::string_view, 3> rawValues{"original", "textEdit", "markup"};
};
template <>
struct RawEnumTraits<ImportOrigin> {
    static constexpr std::array<std::string_view, 5> rawValues{"screenshot", "fileSelection", "drop", "clipboard", "note"};
};

} // namespace tolvex
