#include "TolvexCore/Store/Internal/ClipboardSettingsFile.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/VolumeLocality.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <algorithm>
#include <system_error>

namespace tolvex {

ClipboardPreference ClipboardSettingsFile::clipboardPreferences()
{
    context_.ensureLoaded();
    const QUrl url = context_.url(DataRoot::clipboardSettingsFile());
    if (!context_.exists(url)) {
        ClipboardPreference preference(context_.loadedExistingWorkspace, true, true, true, true);
        context_.files->writeAtomic(Json::encode(preference), url);
        return preference;
    }
    const FileInfo info = context_.files->inspect(url);
    if (!info.isRegularFile || info.isSymbolicLink || info.byteCount > maximumSettingsBytes)
        throw StoreError::recoveryRequired();
    return context_.readRecord<ClipboardPreference>(url);
}

void ClipboardSettingsFile::setClipboardPreferences(const ClipboardPreference& preference)
{
    if (preference.version != ClipboardPreference::currentVersion)
        throw StoreError::unsupportedSchema();
    // A damaged file is never overwritten: reading it fails first.
    clipboardPreferences();
    const QUrl url = context_.url(DataRoot::clipboardSettingsFile());
    if (context_.exists(url)) {
        const QByteArray previous = context_.files->read(url);
        context_.files->writeAtomic(previous, context_.url(DataRoot::previousClipboardSettingsFile()));
    }
    context_.files->writeAtomic(Json::encode(preference), url);
}

bool ClipboardSettingsFile::clipboardEnabled()
{
    return clipboardPreferences().enabled;
}

void ClipboardSettingsFile::setClipboardEnabled(bool enabled)
{
    ClipboardPreference preference = clipboardPreferences();
    preference.enabled = enabled;
    setClipboardPreferences(preference);
}

ClipboardFileFingerprint ClipboardSettingsFile::clipboardFileFingerprint(const QUrl& url)
{
    context_.ensureLoaded();
    const std::optional<QString> path = exactLocalPath(url);
    if (!path || !VolumeLocality::volumeIsLocal(*path))
        throw StoreError::invalidPath();

    // The same file without the host, as the file layer reads it.
    const QUrl fileURL = QUrl::fromLocalFile(*path);
    const FileInfo before = context_.files->inspect(fileURL);
    if (!before.isRegularFile || before.isSymbolicLink)
        throw StoreError::invalidSource();
    const std::int64_t cap = std::min(context_.budget.maxFileBytes, maximumFingerprintBytes);
    if (before.byteCount < 0 || before.byteCount > cap)
        throw StoreError::budgetExceeded();
    return ClipboardFileFingerprint{before, context_.content.digestOfUnchanged(fileURL, before)};
}

} // namespace tolvex
