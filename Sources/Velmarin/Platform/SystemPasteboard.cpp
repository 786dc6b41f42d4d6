#include "Velmarin/Platform/SystemPasteboard.h"

#include "Velmarin/Platform/MimeDataPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tolvex {

SystemPasteboard::SystemPasteboard(QObject* parent) : QObject(parent)
{
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            ++changeCount_;
    });
}

QList<PasteboardItem> SystemPasteboard::items() const
{
    return MimeDataPasteboard::itemsOf(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard));
}

} // namespace tolvex
