#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>

#include <array>
#include <optional>
#include <string>

namespace tolvex::DataRoot {

// Every name the store gives an entry of the data root, and nothing else:
// callers join no folder or file name of their own. Paths are relative to the
// data root, use "/" and are resolved through OwnedPaths before any use; UUIDs
// in names are written upper-case.

// The workspace snapshot; every save rewrites it atomically.
QString stateFile();
// The exact bytes "state.json" had before the last save.
QString previousStateFile();
// Where a restore sets aside a "state.json" that failed to load; never removed.
QString damagedStateFile(const QUuid& id);

// The clipboard intake settings, and their bytes before the last save.
QString clipboardSettingsFile();
QString previousClipboardSettingsFile();

// One folder per material, one immutable payload per version inside it.
QString materialsFolder();
// Note drafts and edit sessions, one folder each.
QString draftsFolder();
// Write-ahead journals and staged payloads.
QString transactionsFolder();
// Copies handed out to the user; old ones are cleanup candidates.
QString exportsFolder();
// One receipt per confirmed storage cleanup.
QString cleanupRecordsFolder();
// The folders every load creates, in the order it creates them.
std::array<QString, 4> preparedFolders();

// "Materials/<material>": the folder a cleanup moves as a whole.
QString materialFolder(const QUuid& materialID);
// "Materials/<material>/<version>.<extension>": a version's payload.
QString versionPath(const QUuid& materialID, const QUuid& versionID, const QString& extension);

// The extension of journals in "Transactions" and of files written whole.
QString journalExtension();
// The extension of staged payloads in "Transactions".
QString stagingExtension();
// "<journal>.json": a journal's name inside "Transactions".
QString journalFileName(const QUuid& journalID);
// "Transactions/<journal>.json": a journal, never deleted.
QString journalPath(const QUuid& journalID);
// "Transactions/<id>.stage": a payload between staging and its commit.
QString stagingPath(const QUuid& stagingID);
// Whether a name in "Transactions" is a staged payload's (by its extension).
bool isStagingName(QStringView fileName);
// Whether a name in "Transactions" is a journal's (by its extension).
bool isJournalName(QStringView fileName);

// "Drafts/<id>": the folder of one note draft or one edit session.
QString draftFolder(const QUuid& id);
// The id a name in "Drafts" gives its folder: only the name draftFolder
// makes (the upper-case UUID text) is one. Other programs leave names of
// their own there (".DS_Store", a lower-case id, anything else): none is
// a draft's.
std::optional<QUuid> draftFolderID(QStringView name);
// Names beginning with a dot: the file managers' and sync tools' own
// (".DS_Store", ".directory", ".stfolder"). The store never names an entry
// of a draft folder so, nor a draft folder itself.
bool isHiddenName(QStringView name);
// The note draft's record inside its folder.
QString noteDraftFileName();
// "Drafts/<id>/note.json".
QString noteDraftPath(const QUuid& draftID);
// The edit session's record inside its folder.
QString editSessionFileName();
// "Drafts/<id>/session.json".
QString editSessionPath(const QUuid& sessionID);
// "working.<extension>": the working file's name beside "session.json".
QString workingFileName(const QString& extension);
// "Drafts/<id>/working.<extension>".
QString workingFilePath(const QUuid& sessionID, const QString& extension);

// "CleanupRecords/<id>.json": a receipt, named by a UUID made for it.
QString cleanupReceiptPath(const QUuid& fileID);

// "<folder>/<name>": an entry of a folder named above.
QString entry(const QString& folder, QStringView name);

// The text after the last dot of a file name; a name that only starts with a
// dot (".json") has none.
QStringView pathExtension(QStringView fileName);

// The last component of a path: trailing slashes are ignored, "/" is its own
// last component and a path without a slash is itself.
QString lastPathComponent(const QString& path);
std::string lastPathComponent(const std::string& path);

} // namespace tolvex::DataRoot
