#pragma once

#include "TolvexCore/Model/StoreError.h"

#include <QString>

#include <utility>

namespace tolvex {

// invalidPath, naming why: a file was named by how its name reads, and
// several names in its folder read so (a byte that is not UTF-8 reads as
// U+FFFD, as U+FFFD itself does), so that none of them can be taken for it.
// Renaming one tells them apart. Caught as a StoreError it is invalidPath.
class AmbiguousNameError : public StoreError {
public:
    // Both as they read: the name, and the folder it was looked for in.
    AmbiguousNameError(QString name, QString folder)
        : StoreError(Code::invalidPath), name_(std::move(name)), folder_(std::move(folder))
    {
    }

    const QString& name() const noexcept { return name_; }
    const QString& folder() const noexcept { return folder_; }

    void raise() const override { throw *this; }
    AmbiguousNameError* clone() const override { return new AmbiguousNameError(*this); }

private:
    QString name_;
    QString folder_;
};

} // namespace tolvex
