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

QFuture<void> SystemPasteboard::readItems(ItemsReader read) const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!reader_ || clipboard->ownsClipboard())
        return readAtOnce(MimeDataPasteboard::itemsOf(clipboard->mimeData(QClipboard::Clipboard)), read);
    return reader_->read([read = std::move(read)](X11SelectionReader::Session& session) {
        read(MimeDataPasteboard::itemsOf(session.formats(),
            [&session](const QString& type, qsizetype maximum) { return session.data(type, maximum); }));
    });
}

} // namespace tolvex
