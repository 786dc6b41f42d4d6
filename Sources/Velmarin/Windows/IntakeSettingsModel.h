#pragma once

#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/CleanupTarget.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/HeldDrafts.h"

#include <QCoro/QCoroTask>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>

class QFileDialog;

namespace tolvex {

class CaptureFolderCoordinator;
class ClipboardImportService;
class MaterialStore;

// Everything the settings window shows and does: the clipboard intake
// switches (saved through the clipboard service, whose view of the
// preferences always wins), the capture folder's state, the sizes of the
// data root's folders and the storage cleanup. GUI thread only; `changed`
// follows every change of the shown state, also one that restores the
// value a control already shows (a dropped switch write must spring back).
class IntakeSettingsModel final : public QObject {
    Q_OBJECT

public:
    // Sizes of the data root's top-level folders, by folder name.
    using Usage = QMap<QString, std::int64_t>;
    using CleanupHandler = std::function<QCoro::Task<void>(WorkspaceSnapshot)>;
    // Runs the staging export's save panel modally; answers the chosen file.
    using PanelRunner = std::function<std::optional<QString>(QFileDialog&)>;

    // The top-level folders measured, by their names in the data root.
    static QStringList usageFolders();

    // `service`, `capture` and `store` must outlive the model; without a
    // store, cleanup and staging export do nothing.
    IntakeSettingsModel(ClipboardImportService& service, CaptureFolderCoordinator& capture, QUrl libraryURL,
        MaterialStore* store, std::function<bool()> canClean, CleanupHandler onCleanup, QObject* parent = nullptr);
    ~IntakeSettingsModel() override;

    // ---- Shown state ----
    const ClipboardPreference& preferences() const { return preferences_; }
    bool saving() const { return saving_; }
    bool failed() const { return failed_; }
    bool didSave() const { return didSave_; }
    bool captureEnabled() const { return captureEnabled_; }
    const QString& capturePath() const { return capturePath_; }
    const QString& captureStatus() const { return captureStatus_; }
    // What the clipboard intake is doing, as the status menu says it.
    const QString& clipboardStatus() const { return clipboardStatus_; }
    const std::optional<Usage>& usage() const { return usage_; }
    bool usageFailed() const { return usageFailed_; }
    const std::optional<StorageCleanupPlan>& cleanupPlan() const { return cleanupPlan_; }
    bool cleanupBusy() const { return cleanupBusy_; }
    const std::optional<QString>& cleanupMessage() const { return cleanupMessage_; }
    bool cleanupFailed() const { return cleanupFailed_; }
    int page() const { return page_; }
    bool showCleanup() const { return showCleanup_; }
    const QSet<QString>& selectedCleanupPaths() const { return selectedCleanupPaths_; }
    std::optional<StorageCleanupPlan> selectedCleanupPlan() const;
    const QUrl& libraryURL() const { return libraryURL_; }
    bool hasCleanupStore() const { return cleanupStore_ != nullptr; }
    CaptureFolderCoordinator& capture() const { return capture_; }
    QFileDialog* exportPanel() const { return exportPanel_; }

    void setPage(int page);
    void setCleanupPathSelected(const QString& relativePath, bool selected);

    // The shelf whose cover and privacy epoch guard the export panel and the preview.
    QPointer<Line> privacyLine;
    PanelRunner runExportPanel;
    // The sessions and drafts open windows hold: the cleanup leaves them,
    // and a confirmation refuses when a window took one up since the preview.
    HeldDrafts::Source heldDrafts;
    // Runs on the measurement workers; tests replace it to order overlapping measurements.
    std::function<std::optional<Usage>(const QString& root)> measure = &IntakeSettingsModel::measureUsage;

    // ---- Intake ----
    void refresh();
    QCoro::Task<void> save(ClipboardPreference preference);
    void retry();
    // What a switch writes: a changed copy of the shown preferences is
    // saved; while a save runs the write is dropped.
    void writePreference(bool ClipboardPreference::*field, bool value);
    void toggleCapture();

    // ---- Usage ----
    // Measures on a low-priority worker; of overlapping measurements only
    // the one started last reports.
    QCoro::Task<void> refreshUsage();
    // The five top-level folders' sizes, or nothing when any of them cannot
    // be measured. Reads only; never follows a symbolic link.
    static std::optional<Usage> measureUsage(const QString& root);

    // ---- Cleanup and staging export ----
    // A preview selects every target but unfinished work, which the user ticks.
    QCoro::Task<void> previewCleanup();
    QCoro::Task<void> confirmCleanup();
    void cancelCleanup();
    void hideCleanup();
    void chooseStagingExport(const CleanupTarget& target);
    QCoro::Task<void> exportStaging(CleanupTarget target, QUrl destination);

signals:
    void changed();

private:
    // A preview or a confirmation starts: busy, with no message left over.
    void beginCleanupWork();
    struct PrivacyMark {
        bool hadLine = false;
        std::uint64_t epoch = 0;
        friend bool operator==(const PrivacyMark&, const PrivacyMark&) = default;
    };
    PrivacyMark privacyMark() const;
    QCoro::Task<void> finishCleanup();

    ClipboardImportService& service_;
    CaptureFolderCoordinator& capture_;
    QUrl libraryURL_;
    MaterialStore* cleanupStore_;
    std::function<bool()> canClean_;
    CleanupHandler onCleanup_;

    ClipboardPreference preferences_;
    bool saving_ = false;
    bool failed_ = false;
    bool didSave_ = false;
    bool captureEnabled_ = false;
    QString capturePath_;
    QString captureStatus_;
    QString clipboardStatus_;
    QFileDialog* exportPanel_ = nullptr;
    std::int64_t saveRevision_ = 0;
    std::optional<ClipboardPreference> retryPreferences_;
    std::optional<Usage> usage_;
    bool usageFailed_ = false;
    std::uint64_t usageGeneration_ = 0;
    std::optional<StorageCleanupPlan> cleanupPlan_;
    bool cleanupBusy_ = false;
    std::optional<QString> cleanupMessage_;
    bool cleanupFailed_ = false;
    int page_ = 0;
    bool showCleanup_ = false;
    QSet<QString> selectedCleanupPaths_;
};

} // namespace tolvex
