#include "Velmarin/Platform/SystemPasteboard.h"

#include "Velmarin/Platform/MimeDataPasteboard.h"
#include "Velmarin/Platform/X11SelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tolvex {

SystemPasteboard::SystemPasteboard(QObject* parent) : QObject(parent)
{
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            ++changeCount_;
    });
    if (QGuiApplication::platformName() == u"xcb")
        reader_ = X11SelectionReader::connect();
}

SystemPasteboard::~SystemPasteboard() = default;

QList<PasteboardItem> SystemPasteboard::items() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!reader_ || clipboard->ownsClipboard())
        return MimeDataPasteboard::itemsOf(clipboard->mimeData(QClipboard::Clipboard));
    return MimeDataPasteboard::itemsOf(
        reader_->formats(), [reader = reader_](const QString& type) { return reader->data(type); });
}

} // namespace tolvex
