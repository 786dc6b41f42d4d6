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
    // Qt's own connection hears the server's notice of a new owner and the
    // GUI thread never waits on a read, so that notice alone brings a copy
    // in at once. The reader's connection does not watch owners as well:
    // with both watching, Qt's clipboard now and then missed a new owner
    // altogether.
    if (QGuiApplication::platformName() == u"xcb")
        reader_ = X11SelectionReader::connect();
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
