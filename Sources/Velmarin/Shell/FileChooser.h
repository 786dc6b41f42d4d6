#pragma once

#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

class QFileDialog;

namespace tolvex {

class Line;

// The import-files chooser (status menu, rope menu, and the remedy for a
// changed source): the chosen files go to the rope's manual input. A name
// the dialog shows with U+FFFD (it is not UTF-8) is looked up in its folder
// off the GUI thread, and goes on as the one file that reads so, or not at
// all (the rope then says why).
class FileChooser {
public:
    // Runs the dialog modally; the chosen files, or none when cancelled.
    using DialogRunner = std::function<std::optional<QList<QUrl>>(QFileDialog&)>;
    // How many files one manual input may hold.
    static constexpr qsizetype maximumFiles = 32;

    static void chooseFiles(Line& line, const DialogRunner& run = runDialog);
    static std::optional<QList<QUrl>> runDialog(QFileDialog& dialog);
};

} // namespace tolvex
