#pragma once

#include "TolvexCore/Model/CaptureFolderSetting.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Intake/CaptureMonitor.h"
#include "Velmarin/Presentation/PrivacyCover.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

class QFileDialog;

namespace tolvex {

class MaterialStore;

// The screenshot intake: the choice of the watched folder (kept in the
// workspace as a bookmark), the capture monitor on it, and one drain that
// imports ready files into the store strictly one after another. Reports
// its state as a status key and every new card through `onImported`.
// Lives on the GUI thread; results of work that a stop overtook are dropped.
class CaptureFolderCoordinator final : public QObject {
public:
    // Runs the folder panel modally and answers the folder accepted, if any.
    using PanelRunner = std::function<std::optional<QString>(QFileDialog&)>;

    // A file the store could not take because another change held it is
    // tried again by itself this much later.
    static constexpr int busyRetryMilliseconds = 200;

    explicit CaptureFolderCoordinator(MaterialStore& store, QObject* parent = nullptr);
    ~CaptureFolderCoordinator() override;

    // Adopts the workspace's folder setting and watches it when enabled.
    void restore(const WorkspaceSnapshot& snapshot);
    void chooseFolder();
    void toggleEnabled();
    // Probes every pending file again.
    void retryPending();
    void stop();

    bool isEnabled() const { return scopedFolder_.has_value(); }
    MessageKey status() const { return status_; }
    const std::optional<CaptureFolderSetting>& setting() const { return setting_; }
    const QSet<QUrl>& pending() const { return pending_; }
    QFileDialog* folderPanel() const { return folderPanel_; }

    // The shelf whose privacy cover the folder panel answers to; the
    // delegate sets it.
    QPointer<PrivacyCover> privacyLine;
    std::function<std::int64_t()> capacity = [] { return std::int64_t{8}; };
    std::function<QCoro::Task<void>(WorkspaceSnapshot)> onSnapshot;
    std::function<QCoro::Task<void>(QUuid, std::optional<QRectF>, WorkspaceSnapshot)> onImported;
    // Before `onImported`: the picture the probe decoded of the capture, for
    // the card's thumbnail, with the SHA-256 of the payload it shows. Only
    // when the payload the store keeps has exactly the bytes decoded.
    std::function<void(const CapturePicture& picture)> onPicture;
    std::function<void()> onStatusChanged;
    // A folder choice, toggle or restore failed.
    std::function<void(std::exception_ptr)> onError;
    // A capture could not be saved because the data root was moved or
    // replaced: the status says so, and only the user can mend it. Called
    // for each such capture.
    std::function<void(std::exception_ptr)> onRootReplaced;
    PanelRunner runPanel;

private:
    struct PrivacyMark {
        bool hadLine = false;
        std::uint64_t epoch = 0;
    };

    void start(const CaptureFolderSetting& setting);
    void enqueue(const QUrl& url);
    QCoro::Task<void> drain();
    QCoro::Task<void> adoptChosenFolder(QString path, PrivacyMark mark);
    // Saves the setting through the store, then watches its folder when it is
    // enabled; every failure reaches the error report.
    QCoro::Task<void> applySetting(CaptureFolderSetting copy);
    void setStatus(MessageKey status);
    void reportError(std::exception_ptr error);
    void launch(QCoro::Task<void> task);
    PrivacyMark privacyMark() const;
    bool privacyMoved(const PrivacyMark& mark) const;

    MaterialStore& store_;
    QFileDialog* folderPanel_ = nullptr;
    CaptureMonitor monitor_;
    std::optional<QUrl> scopedFolder_;
    std::optional<CaptureFolderSetting> setting_;
    QList<QUrl> queue_;
    QSet<QUrl> pending_;
    bool draining_ = false;
    std::int64_t generation_ = 0;
    MessageKey status_ = MessageKey::capturePaused;
};

} // namespace tolvex
