#include "Velmarin/Platform/QtDesktopOpener.h"

#include "Velmarin/Platform/FileManagerReveal.h"

#include <QDesktopServices>

namespace tolvex {

bool QtDesktopOpener::open(const QUrl& file)
{
    return QDesktopServices::openUrl(file);
}

void QtDesktopOpener::reveal(const QUrl& file)
{
    revealInFileManager(file);
}

} // namespace tolvex
