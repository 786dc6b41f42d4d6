#pragma once

#include "TolvexCore/Model/MaterialRecord.h"

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tolvex {

class EditorWindow;

// The widgets of the material detail window, laid out top to bottom: the
// title, the preview, the action row, the source summary, the source form
// behind its disclosure and the footer with the save button, all under the
// cover a privacy cover shows. It keeps no state: the controller keeps the
// form's fields across windows and hands them in, and every control calls
// back into it. GUI thread only.
struct MaterialDetailWindow {
    // The form's fields; they outlive every window.
    struct Fields {
        QLineEdit* title = nullptr;
        QLineEdit* sourceTitle = nullptr;
        QLineEdit* sourceURL = nullptr;
        QLineEdit* sourcePath = nullptr;
        QLineEdit* sourceLocation = nullptr;
        QLabel* sourceSummary = nullptr;
        QComboBox* pageKind = nullptr;
        // Under the web address: what is wrong with it.
        QLabel* sourceProblem = nullptr;
    };
    // What the window's controls ask of the controller.
    struct Actions {
        // The window's close button; the window stays until the controller closes it.
        std::function<void()> close;
        std::function<void()> copy;
        std::function<void()> open;
        // Text materials only: continues the note or edits the text.
        std::function<void()> edit;
        std::function<void()> chooseSource;
        // Asked before the source form opens or closes; false leaves it as it is.
        std::function<bool()> mayDisclose;
        std::function<void()> save;
    };

    // Lays out a new window for the record: `thumbnail` and `texts` are what
    // the load found for its preview (see DetailPreview).
    static MaterialDetailWindow build(const MaterialRecord& record, const std::optional<QImage>& thumbnail,
        const QList<std::pair<QString, QString>>& texts, const Fields& fields, Actions actions);

    // Puts the preview of another version of the record into the holder
    // that build() made, in place of the one there; returns the new preview.
    static QWidget* replacePreview(QWidget* previewHolder, const MaterialRecord& record,
        const std::optional<QImage>& thumbnail, const QList<std::pair<QString, QString>>& texts);

    EditorWindow* window = nullptr;
    // Everything but the cover, hidden while the cover shows.
    QWidget* content = nullptr;
    QLabel* hiddenLabel = nullptr;
    QWidget* preview = nullptr;
    QWidget* previewHolder = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* chooseButton = nullptr;
    QAbstractButton* disclosure = nullptr;
};

} // namespace tolvex
