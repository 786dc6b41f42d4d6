#pragma once

#include "TolvexCore/Model/StoreError.h"

#include <QString>

#include <utility>

namespace tolvex {

// recoveryRequired, naming what stands in the way: an entry that is not the
// store's, inside a folder the store owns, which the store will neither use
// nor move. The user can move it out of the data root and try again. Caught
// as a StoreError it is recoveryRequired like any other.
class UnexpectedEntryError : public StoreError {
public:
    // `folder` relative to the data root ("Drafts/<id>"); `entry` the name in it.
    UnexpectedEntryError(QString folder, QString entry)
        : StoreError(Code::recoveryRequired), folder_(std::move(folder)), entry_(std::move(entry))
    {
    }

    const QString& folder() const noexcept { return folder_; }
    const QString& entry() const noexcept { return entry_; }

    void raise() const override { throw *this; }
    UnexpectedEntryError* clone() const override { return new UnexpectedEntryError(*this); }

private:
    QString folder_;
    QString entry_;
};

} // namespace tolvex
