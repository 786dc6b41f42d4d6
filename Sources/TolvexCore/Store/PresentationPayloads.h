#pragma once

#include <QHash>
#include <QUrl>
#include <QUuid>

#include <exception>

namespace tolvex {

// The outcome of locating one material's payload for display: its verified
// file, or the error met on the way (rethrow it with std::rethrow_exception,
// or rethrowUnwrapped of FutureResult.h).
struct PayloadLocation {
    QUrl url;
    std::exception_ptr error;

    bool succeeded() const { return !error; }
};

// One entry per distinct material id asked for.
using PresentationPayloads = QHash<QUuid, PayloadLocation>;

} // namespace tolvex
