#pragma once

#include "TolvexCore/Model/RawEnum.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvex {

// Every user-visible text of the program, named by its key in the string
// tables. The list below is the single source of both the case names and the
// keys, so the two can never drift apart; its order is the declaration order
// that the resource check and the string-table tests walk. The case's position
// in the list is its underlying value.
// Five keys are bare words; the others are an area, a dot and a name.
#define TOLVEX_MESSAGE_KEYS(X) \
    X(privacyHide, "privacyHide") /* 0 */ \
    X(privacyShow, "privacyShow") /* 1 */ \
    X(privacySaveFailed, "privacySaveFailed") /* 2 */ \
    X(privacyRetry, "privacyRetry") /* 3 */ \
    X(privacyExternalBoundary, "privacyExternalBoundary") /* 4 */ \
    X(shortcutActive, "shortcut.active") /* 5 */ \
    X(shortcutConflict, "shortcut.conflict") /* 6 */ \
    X(shortcutFailed, "shortcut.failed") /* 7 */ \
    X(shortcutRetry, "shortcut.retry") /* 8 */ \
    X(shortcutTitle, "shortcut.title") /* 9 */ \
    X(feedbackCapacity, "feedback.capacity") /* 10 */ \
    X(feedbackSourceChanged, "feedback.sourceChanged") /* 11 */ \
    X(feedbackPermission, "feedback.permission") /* 12 */ \
    X(feedbackPath, "feedback.path") /* 13 */ \
    X(feedbackBusy, "feedback.busy") /* 14 */ \
    X(feedbackRecovery, "feedback.recovery") /* 15 */ \
    X(imagePixelLimit, "image.pixelLimit") /* 16 */ \
    X(imageInvalid, "image.invalid") /* 17 */ \
    X(takenDownMaterials, "history.takenDown") /* 18 */ \
    X(takenDownHelp, "history.help") /* 19 */ \
    X(takenDownEmpty, "history.empty") /* 20 */ \
    X(rehangMaterial, "history.rehang") /* 21 */ \
    X(undoTakeDown, "history.undo") /* 22 */ \
    X(takeDownUndoFeedback, "history.undoFeedback") /* 23 */ \
    X(materialPDF, "material.pdf") /* 24 */ \
    X(shelfKeyboardBrowse, "shelf.keyboardBrowse") /* 25 */ \
    X(shelfKeyboardHelp, "shelf.keyboardHelp") /* 26 */ \
    X(shelfPosition, "shelf.position") /* 27 */ \
    X(shelfPrevious, "shelf.previous") /* 28 */ \
    X(shelfNext, "shelf.next") /* 29 */ \
    X(cleanupTitle, "cleanup.title") /* 30 */ \
    X(cleanupHelp, "cleanup.help") /* 31 */ \
    X(cleanupPreview, "cleanup.preview") /* 32 */ \
    X(stagingTitle, "staging.title") /* 33 */ \
    X(stagingSummary, "staging.summary") /* 34 */ \
    X(stagingHelp, "staging.help") /* 35 */ \
    X(stagingReferenced, "staging.referenced") /* 36 */ \
    X(stagingInspect, "staging.inspect") /* 37 */ \
    X(stagingExport, "staging.export") /* 38 */ \
    X(stagingExportDone, "staging.exportDone") /* 39 */ \
    X(stagingExportFailed, "staging.exportFailed") /* 40 */ \
    X(cleanupCompletedEdits, "cleanup.completedEdits") /* 41 */ \
    X(cleanupPreviewTitle, "cleanup.previewTitle") /* 42 */ \
    X(cleanupSummary, "cleanup.summary") /* 43 */ \
    X(cleanupTrashHelp, "cleanup.trashHelp") /* 44 */ \
    X(cleanupConfirm, "cleanup.confirm") /* 45 */ \
    X(cleanupWorking, "cleanup.working") /* 46 */ \
    X(cleanupEmpty, "cleanup.empty") /* 47 */ \
    X(cleanupDone, "cleanup.done") /* 48 */ \
    X(cleanupPartial, "cleanup.partial") /* 49 */ \
    X(cleanupChanged, "cleanup.changed") /* 50 */ \
    X(cleanupUnavailable, "cleanup.unavailable") /* 51 */ \
    X(editMenu, "edit.menu") /* 52 */ \
    X(editUndo, "edit.undo") /* 53 */ \
    X(editRedo, "edit.redo") /* 54 */ \
    X(editCut, "edit.cut") /* 55 */ \
    X(editCopy, "edit.copy") /* 56 */ \
    X(editPaste, "edit.paste") /* 57 */ \
    X(editSelectAll, "edit.selectAll") /* 58 */ \
    X(editClose, "edit.close") /* 59 */ \
    X(noteDismiss, "note.dismiss") /* 60 */ \
    X(notePlaceholder, "note.placeholder") /* 61 */ \
    X(noteRetryHang, "note.retryHang") /* 62 */ \
    X(settingsIntake, "settings.intake") /* 63 */ \
    X(settingsStorage, "settings.storage") /* 64 */ \
    X(settingsSaved, "settings.saved") /* 65 */ \
    X(settingsSaving, "settings.saving") /* 66 */ \
    X(settingsRetry, "settings.retry") /* 67 */ \
    X(settingsIdle, "settings.idle") /* 68 */ \
    X(settingsTypes, "settings.types") /* 69 */ \
    X(settingsTypeHelp, "settings.typeHelp") /* 70 */ \
    X(libraryTitle, "library.title") /* 71 */ \
    X(libraryLocation, "library.location") /* 72 */ \
    X(libraryUsage, "library.usage") /* 73 */ \
    X(libraryMaterials, "library.materials") /* 74 */ \
    X(libraryExports, "library.exports") /* 75 */ \
    X(libraryDrafts, "library.drafts") /* 76 */ \
    X(libraryHelp, "library.help") /* 77 */ \
    X(libraryLoading, "library.loading") /* 78 */ \
    X(libraryUnavailable, "library.unavailable") /* 79 */ \
    X(libraryReveal, "library.reveal") /* 80 */ \
    X(noteNew, "note.new") /* 81 */ \
    X(noteTitle, "note.title") /* 82 */ \
    X(noteContinue, "note.continue") /* 83 */ \
    X(noteOrigin, "note.origin") /* 84 */ \
    X(noteHint, "note.hint") /* 85 */ \
    X(redRopeEntryHint, "note.redRopeEntryHint") /* 86 */ \
    X(noteHelp, "note.help") /* 87 */ \
    X(noteHang, "note.hang") /* 88 */ \
    X(noteSaving, "note.saving") /* 89 */ \
    X(noteSaved, "note.saved") /* 90 */ \
    X(noteSaveFailed, "note.failed") /* 91 */ \
    X(noteBlank, "note.blank") /* 92 */ \
    X(noteSavingQuit, "note.quitPending") /* 93 */ \
    X(sourceMissing, "source.missing") /* 94 */ \
    X(sourceManual, "source.manual") /* 95 */ \
    X(sourcePDFPage, "source.pdfPage") /* 96 */ \
    X(sourcePrintedPage, "source.printedPage") /* 97 */ \
    X(sourceLabel, "source.label") /* 98 */ \
    X(materialDetails, "material.details") /* 99 */ \
    X(materialTitle, "material.title") /* 100 */ \
    X(sourceTitle, "source.title") /* 101 */ \
    X(sourceURL, "source.url") /* 102 */ \
    X(sourceFile, "source.file") /* 103 */ \
    X(sourceLocation, "source.location") /* 104 */ \
    X(pageUnknown, "source.unknownPage") /* 105 */ \
    X(physicalPage, "source.physicalPage") /* 106 */ \
    X(printedPage, "source.printedLabel") /* 107 */ \
    X(saveSource, "source.save") /* 108 */ \
    X(chooseSourceFile, "source.choose") /* 109 */ \
    X(originalText, "text.original") /* 110 */ \
    X(editedText, "text.edited") /* 111 */ \
    X(editText, "text.edit") /* 112 */ \
    X(textEditorTitle, "text.editor") /* 113 */ \
    X(textEditorHelp, "text.help") /* 114 */ \
    X(textRecoveryChanged, "text.recoveryChanged") /* 115 */ \
    X(textEditingTitle, "text.inProgress") /* 116 */ \
    X(sourceUnavailable, "source.unavailable") /* 117 */ \
    X(importFiles, "input.filesChoose") /* 118 */ \
    X(contentHidden, "privacy.hidden") /* 119 */ \
    X(openCopy, "material.openCopy") /* 120 */ \
    X(copyWithSource, "material.copySource") /* 121 */ \
    X(detailQuitPending, "material.quitPending") /* 122 */ \
    X(saveDetails, "material.saveDetails") /* 123 */ \
    X(detailUnsavedTitle, "material.unsavedTitle") /* 124 */ \
    X(detailUnsavedMessage, "material.unsavedMessage") /* 125 */ \
    X(detailDiscard, "material.discard") /* 126 */ \
    X(detailContinue, "material.continue") /* 127 */ \
    X(saveTitle, "material.saveTitle") /* 128 */ \
    X(materialMetadata, "material.metadata") /* 129 */ \
    X(copy, "action.copy") /* 130 */ \
    X(open, "action.open") /* 131 */ \
    X(markup, "action.markup") /* 132 */ \
    X(showInFinder, "action.showInFinder") /* 133 */ \
    X(takeDown, "action.takeDown") /* 134 */ \
    X(moveToTrash, "action.moveToTrash") /* 135 */ \
    X(copied, "feedback.copied") /* 136 */ \
    X(hideLine, "shelf.hide") /* 137 */ \
    X(showLine, "shelf.show") /* 138 */ \
    X(takeDownAll, "shelf.takeDownAll") /* 139 */ \
    X(emptyHint, "shelf.emptyHint") /* 140 */ \
    X(sounds, "settings.sounds") /* 141 */ \
    X(pasteInput, "input.paste") /* 142 */ \
    X(intakeSettings, "input.settings") /* 143 */ \
    X(dropHint, "input.dropHint") /* 144 */ \
    X(dropReady, "input.dropReady") /* 145 */ \
    X(inputReceiving, "input.receiving") /* 146 */ \
    X(inputSaved, "input.saved") /* 147 */ \
    X(inputNothingNew, "input.nothingNew") /* 148 */ \
    X(manualInputTitle, "input.manualTitle") /* 149 */ \
    X(manualInputHelp, "input.manualHelp") /* 150 */ \
    X(automaticInputTitle, "input.automaticTitle") /* 151 */ \
    X(automaticInputEnabled, "input.automaticEnabled") /* 152 */ \
    X(automaticInputHelp, "input.automaticHelp") /* 153 */ \
    X(inputImages, "input.images") /* 154 */ \
    X(inputText, "input.text") /* 155 */ \
    X(inputFiles, "input.files") /* 156 */ \
    X(inputExisting, "input.existing") /* 157 */ \
    X(inputSettingsFailed, "input.settingsFailed") /* 158 */ \
    X(captureNoFolder, "capture.noFolder") /* 159 */ \
    X(captureSettingsTitle, "capture.settingsTitle") /* 160 */ \
    X(captureSettingsEnabled, "capture.settingsEnabled") /* 161 */ \
    X(captureSettingsHelp, "capture.settingsHelp") /* 162 */ \
    X(pauseClipboard, "clipboard.pause") /* 163 */ \
    X(resumeClipboard, "clipboard.resume") /* 164 */ \
    X(retryClipboard, "clipboard.retry") /* 165 */ \
    X(clipboardActive, "clipboard.active") /* 166 */ \
    X(clipboardPaused, "clipboard.paused") /* 167 */ \
    X(clipboardHidden, "clipboard.hidden") /* 168 */ \
    X(clipboardPending, "clipboard.pending") /* 169 */ \
    X(clipboardUnavailable, "clipboard.unavailable") /* 170 */ \
    X(clipboardRejected, "clipboard.rejected") /* 171 */ \
    X(clipboardPendingQuit, "clipboard.pendingQuit") /* 172 */ \
    X(clipboardChangedFile, "clipboard.changedFile") /* 173 */ \
    X(discardClipboard, "clipboard.discard") /* 174 */ \
    X(discardClipboardTitle, "clipboard.discardTitle") /* 175 */ \
    X(discardClipboardMessage, "clipboard.discardMessage") /* 176 */ \
    X(keepClipboard, "clipboard.keep") /* 177 */ \
    X(quitDiscardingClipboard, "clipboard.quitDiscarding") /* 178 */ \
    X(quit, "app.quit") /* 179 */ \
    X(invalidArguments, "error.arguments") /* 180 */ \
    X(missingResources, "error.resources") /* 181 */ \
    X(recoveryTitle, "recovery.title") /* 182 */ \
    X(recoveryMessage, "recovery.message") /* 183 */ \
    X(recoveryMessageWithoutRestore, "recovery.messageWithoutRestore") /* 184 */ \
    X(recoveryPrevious, "recovery.previous") /* 185 */ \
    X(revealWorkspace, "recovery.revealWorkspace") /* 186 */ \
    X(actionFailed, "error.materialAction") /* 187 */ \
    X(errorNoApplication, "error.noApplication") /* 188 */ \
    X(chooseCaptureFolder, "capture.choose") /* 189 */ \
    X(pauseCapture, "capture.pause") /* 190 */ \
    X(resumeCapture, "capture.resume") /* 191 */ \
    X(retryCapture, "capture.retry") /* 192 */ \
    X(markupFallbackTitle, "markup.fallbackTitle") /* 193 */ \
    X(markupFallbackMessage, "markup.fallbackMessage") /* 194 */ \
    X(saveCopy, "edit.saveCopy") /* 195 */ \
    X(cancel, "edit.cancel") /* 196 */ \
    X(captureActive, "capture.active") /* 197 */ \
    X(capturePaused, "capture.paused") /* 198 */ \
    X(captureUnavailable, "capture.unavailable") /* 199 */ \
    X(captureIncomplete, "capture.incomplete") /* 200 */ \
    X(captureFull, "capture.full") /* 201 */ \
    X(captureStorageLimit, "capture.storageLimit") /* 202 */ \
    X(captureImportFailed, "capture.importFailed") /* 203 */ \
    X(reviewPendingTitle, "recovery.reviewTitle") /* 204 */ \
    X(reviewPendingMessage, "recovery.reviewMessage") /* 205 */ \
    X(hangReviewed, "recovery.hangReviewed") /* 206 */ \
    X(retainedDraft, "recovery.retainedDraft") /* 207 */ \
    X(resumeDraft, "recovery.resumeDraft") /* 208 */ \
    X(markupSaveFailed, "markup.saveFailed") /* 209 */ \
    X(markupSaveRetained, "markup.saveRetained") /* 210 */ \
    X(markupInProgress, "markup.inProgress") /* 211 */ \
    X(retryMarkup, "markup.retry") /* 212 */ \
    X(retryLater, "markup.retryLater") /* 213 */ \
    X(markupDiscardTitle, "markup.discardTitle") /* 214 */ \
    X(markupTextPrompt, "markup.textPrompt") /* 215 */ \
    X(markupPlaceText, "markup.placeText") /* 216 */ \
    X(recoveryTryAgain, "recovery.tryAgain") /* 217 */ \
    X(appAlreadyRunning, "app.alreadyRunning") /* 218 */ \
    X(appAlreadyRunningMessage, "app.alreadyRunningMessage") /* 219 */ \
    X(appAlreadyRunningDismiss, "app.alreadyRunningDismiss") /* 220 */ \
    X(editDiscardTitle, "edit.discardTitle") /* 221 */ \
    X(editDiscardMessage, "edit.discardMessage") /* 222 */ \
    X(recoveryUnopenableDraft, "recovery.unopenableDraft") /* 223 */ \
    X(recoveryDiscard, "recovery.discard") /* 224 */ \
    X(recoveryDiscardTitle, "recovery.discardTitle") /* 225 */ \
    X(recoveryDiscardMessage, "recovery.discardMessage") /* 226 */ \
    X(recoveryWithMarks, "recovery.withMarks") /* 227 */ \
    X(recoveryWithoutMarks, "recovery.withoutMarks") /* 228 */ \
    X(recoveryHeldDraft, "recovery.heldDraft") /* 229 */ \
    X(recoveryHeldDraftMessage, "recovery.heldDraftMessage") /* 230 */ \
    X(recoveryUnexpectedEntry, "recovery.unexpectedEntry") /* 231 */ \
    X(feedbackRootReplaced, "feedback.rootReplaced") /* 232 */ \
    X(cleanupPendingDraft, "cleanup.pendingDraft") /* 233 */ \
    X(historyUndoFeedbackBatch, "history.undoFeedbackBatch") /* 234 */ \
    X(historyUndoExpired, "history.undoExpired") /* 235 */ \
    X(historyRehungBatch, "history.rehungBatch") /* 236 */ \
    X(sourceAddressUnreadable, "source.addressUnreadable") /* 237 */ \
    X(sourceAddressScheme, "source.addressScheme") /* 238 */ \
    X(sourceAddressHost, "source.addressHost") /* 239 */ \
    X(sizeByte, "size.byte") /* 240 */ \
    X(sizeBytes, "size.bytes") /* 241 */ \
    X(alertOk, "alert.ok") /* 242 */ \
    X(errorOpenFailed, "error.openFailed") /* 243 */ \
    X(revealFailed, "reveal.failed") /* 244 */ \
    X(revealCopyPath, "reveal.copyPath") /* 245 */ \
    X(recoveryNothingToReview, "recovery.nothingToReview") /* 246 */ \
    X(recoveryLinkedRoot, "recovery.linkedRoot") /* 247 */ \
    X(recoveryUnreadableDraft, "recovery.unreadableDraft") /* 248 */ \
    X(recoveryReviewUnavailable, "recovery.reviewUnavailable") /* 249 */ \
    X(feedbackAmbiguousName, "feedback.ambiguousName") /* 250 */

enum class MessageKey : std::uint8_t {
#define TOLVEX_MESSAGE_KEY_CASE(name, key) name,
    TOLVEX_MESSAGE_KEYS(TOLVEX_MESSAGE_KEY_CASE)
#undef TOLVEX_MESSAGE_KEY_CASE
};

template <>
struct RawEnumTraits<MessageKey> {
#define TOLVEX_MESSAGE_KEY_RAW(name, key) std::string_view(key),
    static constexpr std::array rawValues{TOLVEX_MESSAGE_KEYS(TOLVEX_MESSAGE_KEY_RAW)};
#undef TOLVEX_MESSAGE_KEY_RAW
};

inline constexpr std::size_t messageKeyCount = RawEnumTraits<MessageKey>::rawValues.size();

// The key of the case in the string tables, e.g. "image.invalid".
constexpr std::string_view messageKeyRawValue(MessageKey key)
{
    return rawValue(key);
}
// The same key as a QString (keys are plain ASCII).
QString messageKeyString(MessageKey key);

// The case whose key equals the text exactly (case-sensitive), or nothing.
std::optional<MessageKey> messageKeyFromRawValue(std::string_view raw);
std::optional<MessageKey> messageKeyFromRawValue(QStringView raw);

// All cases in declaration order.
const std::array<MessageKey, messageKeyCount>& allMessageKeys();

inline std::size_t qHash(MessageKey key, std::size_t seed = 0) noexcept
{
    return static_cast<std::size_t>(key) ^ seed;
}

} // namespace tolvex
