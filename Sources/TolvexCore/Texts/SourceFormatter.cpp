#include "TolvexCore/Texts/SourceFormatter.h"

#include "TolvexCore/Texts/Localizer.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "TolvexCore/Model/StoreError.h"

#include <QStringList>
#include <QUrl>

namespace tolvex {

namespace {

bool isWebScheme(const QString& scheme)
{
    const QString lowered = scheme.toLower();
    return lowered == QLatin1String("https") || lowered == QLatin1String("http");
}

} // namespace

QString SourceFormatter::pageNumberText(std::int64_t index)
{
    // index + 1 overflows a signed 64-bit integer for the largest index, which
    // validate refuses but an older workspace may still hold; as unsigned it
    // is exact.
    return QString::number(static_cast<qulonglong>(static_cast<std::uint64_t>(index) + 1U));
}

std::optional<QString> SourceFormatter::describe(const SourceRecord& source, const Localizer& localizer)
{
    QStringList parts;
    if (source.origin == ImportOrigin::note)
        parts.append(localizer.string(MessageKey::noteOrigin));
    if (source.manualTitle && !source.manualTitle->isEmpty())
        parts.append(*source.manualTitle);
    if (source.filePath)
        parts.append(*source.filePath);
    if (source.webURL)
        parts.append(source.webURL->toString(QUrl::FullyEncoded));
    if (source.locator) {
        if (source.locator->isPdfIndex()) {
            const std::int64_t index = source.locator->index();
            if (index >= 0) {
                parts.append(MessageFormat::replacingLiteral(
                    localizer.string(MessageKey::sourcePDFPage), QStringLiteral("%d"), pageNumberText(index)));
            }
        } else {
            parts.append(MessageFormat::replacingLiteral(
                localizer.string(MessageKey::sourcePrintedPage), QStringLiteral("%@"), source.locator->label()));
        }
    }
    if (parts.isEmpty())
        return std::nullopt;
    const bool printedLabel = source.locator && source.locator->isPrintedPage();
    if (printedLabel || source.isManuallyRegistered)
        parts.append(localizer.string(MessageKey::sourceManual));
    return parts.join(separator());
}

void SourceFormatter::validate(const SourceRecord& source)
{
    if (source.filePath && !source.filePath->startsWith(QLatin1Char('/')))
        throw StoreError::invalidSource();

    if (source.webURL) {
        const QUrl& url = *source.webURL;
        if (!url.isValid() || !isWebScheme(url.scheme()) || url.host().isEmpty())
            throw StoreError::invalidSource();
    }

    if (source.manualTitle && UnicodeText::graphemeCount(*source.manualTitle) > maximumTitleLength)
        throw StoreError::invalidSource();

    if (source.locator) {
        if (source.locator->isPrintedPage()) {
            const QString& label = source.locator->label();
            if (UnicodeText::trimmedWhitespaceAndNewlines(label).isEmpty()
                || UnicodeText::graphemeCount(label) > maximumPageLabelLength)
                throw StoreError::invalidSource();
        } else {
            const std::int64_t index = source.locator->index();
            if (index < 0 || index >= pageIndexLimit)
                throw StoreError::invalidSource();
        }
    }
}

} // namespace tolvex
