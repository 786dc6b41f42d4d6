#pragma once

#include <QString>

namespace tolvex::testing {

// A uniquely named entry directly below "/tmp/tolvex-dev/" (which is created
// when missing and never removed: other processes may use it at the same
// time). Nothing is created at the entry's path; whatever the test puts there
// is removed, without following links, when the object goes away.
class DevFolderEntry {
public:
    explicit DevFolderEntry(const QString& label = QStringLiteral("entry"));
    ~DevFolderEntry();
    DevFolderEntry(const DevFolderEntry&) = delete;
    DevFolderEntry& operator=(const DevFolderEntry&) = delete;

    // "/tmp/tolvex-dev/<label>-<uuid>", without a trailing slash.
    const QString& path() const { return path_; }
    QString name() const;

private:
    QString path_;
};

} // namespace tolvex::testing
