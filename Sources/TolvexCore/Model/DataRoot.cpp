#include "TolvexCore/Model/DataRoot.h"

#include "TolvexCore/Model/UuidText.h"

#include <string_view>

namespace tolvex::DataRoot {

namespace {

// The one rule behind both spellings of lastPathComponent.
template <typename View>
View lastComponentOf(View path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path.size() == 1 && path.front() == '/')
        return path;
    const auto slash = path.rfind('/');
    return slash == View::npos ? path : path.substr(slash + 1);
}

QString withExtension(const QString& stem, const QString& extension)
{
    return stem + u'.' + extension;
}

} // namespace

QString stateFile() { return QStringLiteral("state.json"); }
QString previousStateFile() { return QStringLiteral("state.previous.json"); }
QString damagedStateFile(const QUuid& id) { return QStringLiteral("state.damaged.") + uuidText(id) + QStringLiteral(".json"); }

QString clipboardSettingsFile() { return QStringLiteral("clipboard-settings.json"); }
QString previousClipboardSettingsFile() { return QStringLiteral("clipboard-settings.previous.json"); }

QString materialsFolder() { return QStringLiteral("Materials"); }
QString draftsFolder() { return QStringLiteral("Drafts"); }
QString transactionsFolder() { return QStringLiteral("Transactions"); }
QString exportsFolder() { return QStringLiteral("Exports"); }
QString cleanupRecordsFolder() { return QStringLiteral("CleanupRecords"); }

std::array<QString, 4> preparedFolders()
{
    return {materialsFolder(), draftsFolder(), transactionsFolder(), exportsFolder()};
}

QString materialFolder(const QUuid& materialID) { return entry(materialsFolder(), uuidText(materialID)); }

QString versionPath(const QUuid& materialID, const QUuid& versionID, const QString& extension)
{
    return entry(materialFolder(materialID), withExtension(uuidText(versionID), extension));
}

QString journalExtension() { return QStringLiteral("json"); }
QString stagingExtension() { return QStringLiteral("stage"); }
QString journalFileName(const QUuid& journalID) { return withExtension(uuidText(journalID), journalExtension()); }
QString journalPath(const QUuid& journalID) { return entry(transactionsFolder(), journalFileName(journalID)); }

QString stagingPath(const QUuid& stagingID)
{
    return entry(transactionsFolder(), withExtension(uuidText(stagingID), stagingExtension()));
}

bool isStagingName(QStringView fileName) { return pathExtension(fileName) == stagingExtension(); }
bool isJournalName(QStringView fileName) { return pathExtension(fileName) == journalExtension(); }

QString draftFolder(const QUuid& id) { return entry(draftsFolder(), uuidText(id)); }

std::optional<QUuid> draftFolderID(QStringView name)
{
    const std::optional<QUuid> id = parseUuid(name);
    if (!id || uuidText(*id) != name)
        return std::nullopt;
    return id;
}

bool isHiddenName(QStringView name) { return name.startsWith(u'.'); }
QString noteDraftFileName() { return QStringLiteral("note.json"); }
QString noteDraftPath(const QUuid& draftID) { return entry(draftFolder(draftID), noteDraftFileName()); }
QString editSessionFileName() { return QStringLiteral("session.json"); }
QString editSessionPath(const QUuid& sessionID) { return entry(draftFolder(sessionID), editSessionFileName()); }
QString workingFileName(const QString& extension) { return withExtension(QStringLiteral("working"), extension); }

QString workingFilePath(const QUuid& sessionID, const QString& extension)
{
    return entry(draftFolder(sessionID), workingFileName(extension));
}

QString cleanupReceiptPath(const QUuid& fileID)
{
    return entry(cleanupRecordsFolder(), withExtension(uuidText(fileID), journalExtension()));
}

QString entry(const QString& folder, QStringView name) { return folder + u'/' + name.toString(); }

QStringView pathExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > 0 ? fileName.mid(dot + 1) : QStringView();
}

QString lastPathComponent(const QString& path)
{
    // QStringView has no rfind/npos of the std shape; go through the std view of its UTF-16.
    const std::u16string_view last = lastComponentOf(std::u16string_view(reinterpret_cast<const char16_t*>(path.utf16()), size_t(path.size())));
    return QString(reinterpret_cast<const QChar*>(last.data()), qsizetype(last.size()));
}

std::string lastPathComponent(const std::string& path) { return std::string(lastComponentOf(std::string_view(path))); }

} // namespace tolvex::DataRoot
