#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

#include <functional>

namespace tolvex {

class Alert;

// Every "Show in File Manager" of the program: the item is shown selected in
// the file manager, else its folder; when the desktop can show neither, an
// alert says so and names the item's path, which its first button puts on
// the clipboard, so that a failed reveal never passes in silence. GUI thread.
namespace ShowInFileManager {

using AlertRunner = std::function<int(Alert&)>;
// Answers, once the desktop has, whether the item or its folder was shown.
using Revealer = std::function<QCoro::Task<bool>(const QUrl& item)>;
using PathCopier = std::function<void(const QString& path)>;

// Reveals `item` (through `reveal`, by default the desktop's file manager
// or launcher, whose answer is awaited, never waited for), then presents
// the failure alert through `run` when nothing could be shown. Without
// `copyPath` the path goes onto the desktop's clipboard.
QCoro::Task<void> show(QUrl item, AlertRunner run, Revealer reveal = {}, PathCopier copyPath = {});

// The failure alert alone, for a reveal that has already failed.
void presentFailure(const QUrl& item, const AlertRunner& run, const PathCopier& copyPath = {});

} // namespace ShowInFileManager

} // namespace tolvex
