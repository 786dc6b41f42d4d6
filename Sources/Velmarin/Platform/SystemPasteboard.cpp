#include "Velmarin/Platform/SystemPasteboard.h"

#include "Velmarin/Platform/MimeDataPasteboard.h"
#include "Velmarin/Platform/X11SelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tolvex {

SystemPasteboard::SystemPasteboard(QObject* parent) : QObject(parent)
{
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard)
            return;
        ++changeCount_;
        Q_EMIT changed();
    });
    if (QGuiApplication::platformName() == u"xcb") {
        // The server tells the reader's connection of a new owner as soon as
        // it tells Qt's. The reader's thread ends in our destructor, before
        // this object goes; a notice posted meanwhile goes with it.
        reader_ = X11SelectionReader::connect(
            [this] { QMetaObject::invokeMethod(this, [this] { Q_EMIT changed(); }, Qt::QueuedConnection); });
    }
}

SystemPasteboard::~SystemPasteboard()
{
    // Ends the reader's thread before this object starts to go.
    reader_.reset();
}

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
