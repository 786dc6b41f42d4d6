#pragma once

#include "TolvexCore/Model/CancellationError.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>

namespace tolvex {

class CopyOutMimeData;
class MaterialStore;

// Prepares the drag of one card: exports a copy of the shown version into a
// fresh folder under "Exports" when the drag starts, and builds the drag's
// data from that copy. Create it through std::make_shared: the data it
// returns keeps it alive. GUI thread only.
class CopyOutProvider : public std::enable_shared_from_this<CopyOutProvider> {
public:
    // `store` must outlive the provider. `canExport` is asked at every step
    // and by the drag data on every request.
    CopyOutProvider(MaterialStore& store, QUuid id, QUuid versionID, QString suffix, std::function<bool()> canExport);

    // The drag data, or StoreError::invalidSource when the material is gone,
    // the workspace is covered or exporting stopped being allowed; the
    // store's errors, CancellationError, and the image or text read errors
    // pass through. A copy exported before a failure stays in "Exports".
    QCoro::Task<std::shared_ptr<CopyOutMimeData>> prepareProvider(QUrl exportRoot, CancellationToken cancellation = {});

    // The name of a file written for a drop target: the prepared name, else
    // "Tolvex-" with the first 8 characters of the id and the suffix.
    QString fileName(const CopyOutMimeData* provider) const;

    // Writes another copy where a drop target asks for one, for desktops
    // that promise files. Nothing on this platform calls it (X11 drags carry
    // the exported file's URL instead), but it keeps the same rules: nothing
    // is written once exporting is no longer allowed, and an existing file
    // is never replaced. Returns at once; `completion` gets null or the
    // error, exactly once, on the GUI thread.
    void writePromiseTo(QUrl destination, std::function<void(std::exception_ptr)> completion);

    const QUuid& id() const { return id_; }
    const QUuid& versionID() const { return versionID_; }

private:
    QCoro::Task<void> writePromise(QUrl destination, std::function<void(std::exception_ptr)> completion);

    MaterialStore& store_;
    QUuid id_;
    QUuid versionID_;
    QString suffix_;
    std::function<bool()> canExport_;
};

} // namespace tolvex
