#include "Velmarin/Shell/FileChooser.h"

#include "TolvexCore/Files/ReadableNameLookup.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/InteractionFeedback.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Shelf/Line.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace tolvex {

namespace {

bool readsLossily(const QString& path)
{
    return path.contains(QChar::ReplacementCharacter);
}

// Qt's dialog reads a name that is not UTF-8 with U+FFFD and then finds no
// file of that name, so it would refuse the choice as "File not found".
// Such a name is taken as chosen; which file it stands for is settled once
// the dialog has closed, away from the GUI thread.
class ChooserDialog final : public QFileDialog {
public:
    void accept() override
    {
        const QStringList files = selectedFiles();
        const bool lossy = std::any_of(files.begin(), files.end(),
            [](const QString& file) { return readsLossily(file) && !QFileInfo::exists(file); });
        if (lossy)
            QDialog::accept();
        else
            QFileDialog::accept();
    }
};

void handOn(Line& line, const QList<QUrl>& chosen)
{
    QList<ImportRequest> requests;
    for (const QUrl& url : chosen)
        requests.append(ImportRequest::file(url, ImportOrigin::fileSelection));
    if (line.onReceiveInput)
        line.onReceiveInput(requests);
}

// The exact files that chosen names reading with U+FFFD stand for, looked
// up in their folders; an ambiguous or missing one fails them all, so that
// another file is never taken in its place.
QList<QUrl> exactFiles(const QList<QUrl>& chosen)
{
    QList<QUrl> exact;
    for (const QUrl& url : chosen)
        exact.append(QUrl::fromLocalFile(ReadableNameLookup::exactPath(*SystemFileOperations::shared(), url.toLocalFile())));
    return exact;
}

QCoro::Task<void> handOnExactFiles(QPointer<Line> line, QList<QUrl> chosen)
{
    auto looking = awaitResult(QtConcurrent::run(exactFiles, chosen));
    const QList<QUrl> exact = co_await std::move(looking);
    if (!line || !line->canReceiveInput() || line->isCovered())
        co_return;
    handOn(*line, exact);
}

} // namespace

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
    ChooserDialog dialog;
    NameOnlyFileIconProvider::install(dialog);
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
    if (std::none_of(chosen->begin(), chosen->end(), [](const QUrl& url) { return readsLossily(url.toLocalFile()); })) {
        handOn(line, *chosen);
        return;
    }
    launchTask(handOnExactFiles(&line, *chosen), [line = QPointer<Line>(&line)](std::exception_ptr error) {
        if (line)
            line->inputFeedback = InteractionFeedback(error).text(appLocalizer());
    });
}

} // namespace tolvex
