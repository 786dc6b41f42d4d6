#include "Velmarin/Windows/SourceForm.h"

#include "TolvexCore/Files/ReadOnlyFile.h"
#include "TolvexCore/Files/ReadableNameLookup.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Texts/SourceFormatter.h"

#include <QFile>
#include <QPdfDocument>

#include <optional>
#include <QRegularExpression>
#include <QUrl>

namespace tolvex {

SourceDraft SourceDraft::of(const SourceRecord& source)
{
    SourceDraft draft;
    draft.title = source.manualTitle.value_or(QString());
    draft.url = source.webURL ? source.webURL->toString(QUrl::FullyEncoded) : QString();
    draft.path = source.filePath.value_or(QString());
    if (source.locator && source.locator->isPdfIndex()) {
        draft.page = physicalPage;
        draft.location = QString::number(source.locator->index() + 1);
    } else if (source.locator && source.locator->isPrintedPage()) {
        draft.page = printedLabel;
        draft.location = source.locator->label();
    }
    return draft;
}

std::optional<QString> SourceDraft::pageCountPath() const
{
    if (page != physicalPage || location.isEmpty() || path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<MessageKey> addressProblem(const QString& typed)
{
    const QString address = typed.trimmed();
    if (address.isEmpty())
        return std::nullopt;
    const QUrl parsed(address, QUrl::StrictMode);
    if (!parsed.isValid())
        return MessageKey::sourceAddressUnreadable;
    // "example.com/page" parses as a path without a scheme: the scheme is what is missing.
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return MessageKey::sourceAddressScheme;
    if (parsed.host().isEmpty())
        return MessageKey::sourceAddressHost;
    return std::nullopt;
}

std::optional<int> pdfPageCount(const QString& path)
{
    // A recorded path is as it reads: it counts only for the one file it can
    // stand for, read from one descriptor opened without waiting for a FIFO's
    // writer and checked to be a regular file (links followed, as a source
    // chosen through a link is that file). The descriptor outlives the
    // device and the document over it.
    std::optional<ReadOnlyFile> file;
    try {
        file.emplace(ReadOnlyFile::open(ReadableNameLookup::exactPath(*SystemFileOperations::shared(), path)));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    QFile device;
    if (!file->isRegularFile() || !device.open(file->descriptor(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QPdfDocument document;
    document.load(&device);
    // A locked document does not load without its password.
    if (document.status() != QPdfDocument::Status::Ready)
        return std::nullopt;
    return document.pageCount();
}

SourceRecord validatedSource(const SourceDraft& draft, const SourceRecord& original, std::optional<int> pageCount)
{
    SourceRecord source = original;

    const QString url = draft.url.trimmed();
    if (url.isEmpty()) {
        source.webURL.reset();
    } else {
        const QUrl parsed(url, QUrl::StrictMode);
        if (!parsed.isValid())
            throw StoreError::invalidSource();
        source.webURL = parsed;
    }

    source.manualTitle = draft.title.isEmpty() ? std::nullopt : std::optional<QString>(draft.title);

    const std::optional<QString> path = draft.path.isEmpty() ? std::nullopt : std::optional<QString>(draft.path);
    // The bookmark names the old file: it survives only an unchanged path.
    if (path != original.filePath)
        source.fileBookmark.reset();
    source.filePath = path;

    source.locator.reset();
    source.isManuallyRegistered = true;
    if (!draft.location.isEmpty()) {
        if (draft.page == SourceDraft::printedLabel) {
            source.locator = PageLocator::printedPage(draft.location);
        } else if (draft.page == SourceDraft::physicalPage) {
            static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
            bool parsed = false;
            const qlonglong number = integer.match(draft.location).hasMatch() ? draft.location.toLongLong(&parsed) : 0;
            if (!parsed || number <= 0 || !path || !pageCount || *pageCount < number)
                throw StoreError::invalidSource();
            source.locator = PageLocator::pdfIndex(number - 1);
        }
    }

    SourceFormatter::validate(source);
    return source;
}

} // namespace tolvex
