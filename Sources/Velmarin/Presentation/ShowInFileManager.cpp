#include "Velmarin/Presentation/ShowInFileManager.h"

#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Platform/FileManagerReveal.h"
#include "Velmarin/Platform/Pasteboard.h"
#include "Velmarin/Platform/QtClipboardWriter.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"

#include <QMimeData>

#include <memory>

namespace tolvex::ShowInFileManager {

namespace {

void copyToClipboard(const QString& path)
{
    auto data = std::make_unique<QMimeData>();
    data->setText(path);
    // The program's own copy: its clipboard intake does not hang it on the rope.
    data->setData(QString::fromUtf16(PasteboardType::ownCopy), QByteArrayLiteral("1"));
    QtClipboardWriter().write(std::move(data));
}

} // namespace

QCoro::Task<void> show(QUrl item, AlertRunner run, Revealer reveal, PathCopier copyPath)
{
    QCoro::Task<bool> revealing = reveal ? reveal(item) : revealInFileManager(item);
    if (!co_await std::move(revealing))
        presentFailure(item, run, copyPath);
}

void presentFailure(const QUrl& item, const AlertRunner& run, const PathCopier& copyPath)
{
    if (!run)
        return;
    const Localizer localizer = appLocalizer();
    const QString path = item.isLocalFile() ? item.toLocalFile() : item.toString();
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::actionFailed));
    alert.setMessage(MessageFormat::format(localizer.string(MessageKey::revealFailed), {path}));
    alert.addButton(localizer.string(MessageKey::revealCopyPath));
    alert.addButton(localizer.string(MessageKey::cancel));
    alert.setEscapeButton(1);
    if (run(alert) != Alert::firstButtonResponse)
        return;
    if (copyPath)
        copyPath(path);
    else
        copyToClipboard(path);
}

} // namespace tolvex::ShowInFileManager
