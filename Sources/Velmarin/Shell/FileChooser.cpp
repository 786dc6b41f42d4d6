#include "Velmarin/Shell/FileChooser.h"

#include "TolvexCore/Model/ImportRequest.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Shelf/Line.h"

#include <QFileDialog>

namespace tolvex {

std::optional<QList<QUrl>> FileChooser::runDialog(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedUrls();
}

void FileChooser::chooseFiles(Line& line, const DialogRunner& run)
{
    if (!line.canReceiveInput() || line.isCovered())
        return;
    // Qt's own dialog, so that a cover can close it.
    QFileDialog dialog;
    NameOnlyFileIconProvider::install(dialog);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setDirectory(ChooserFolders::documents());
    if (line.isCovered())
        return;

    std::optional<QList<QUrl>> chosen;
    {
        ModalRegistration registration(line, &dialog);
        chosen = run(dialog);
        if (registration.cancelled() || !chosen)
            return;
    }
    // More files than one input holds would be refused without a word.
    if (chosen->size() > maximumFiles) {
        line.inputFeedback = appLocalizer().string(MessageKey::feedbackCapacity);
        return;
    }
    QList<ImportRequest> requests;
    for (const QUrl& url : *chosen)
        requests.append(ImportRequest::file(url, ImportOrigin::fileSelection));
    if (line.onReceiveInput)
        line.onReceiveInput(requests);
}

} // namespace tolvex
