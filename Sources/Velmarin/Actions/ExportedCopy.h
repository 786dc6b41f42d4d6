#pragma once

#include "TolvexCore/Model/MaterialRecord.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

namespace tolvex {

// Where a fresh exported copy goes: "Exports", then a new folder named by an
// upper-case UUID, then the suggested export name. A new folder every time,
// so two exports never collide.
QUrl exportDestination(const QUrl& root, const MaterialRecord& record, const QString& fileExtension);

// Clears every execute bit of an exported copy, on a worker thread: the copy
// keeps the payload's mode, and a file the user dropped may have been
// executable. A failure is thrown (std::system_error).
QCoro::Task<void> clearExecuteBits(QUrl copy);

// Reads a whole file as UTF-8 on a worker thread. A read error is thrown
// (std::system_error), and StoreError::invalidSource for bytes that are not
// valid UTF-8.
QCoro::Task<QString> readUtf8(QUrl file);

} // namespace tolvex
