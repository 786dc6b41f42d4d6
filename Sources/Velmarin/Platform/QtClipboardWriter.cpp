#include "Velmarin/Platform/QtClipboardWriter.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tolvex {

bool QtClipboardWriter::write(std::unique_ptr<QMimeData> data)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !data)
        return false;
    QMimeData* offered = data.release();
    // QClipboard owns the data from here on, whether or not the selection
    // could be taken.
    clipboard->setMimeData(offered, QClipboard::Clipboard);
    // When another client kept the selection, Qt answers with that client's
    // content instead of ours.
    return clipboard->mimeData(QClipboard::Clipboard) == offered;
}

} // namespace tolvex
