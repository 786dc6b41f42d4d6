#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>

namespace tolvex::testing {

// Every entry below a folder with its bytes (a folder's key ends in "/", a
// link's value is its target), to prove that a call left a tree exactly as
// it was.
inline QMap<QString, QByteArray> folderContents(const QString& folder)
{
    QMap<QString, QByteArray> result;
    const QDir top(folder);
    const auto walk = [&](const auto& self, const QString& at) -> void {
        for (const QFileInfo& info :
            QDir(at).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString entry = top.relativeFilePath(info.filePath());
            if (info.isDir() && !info.isSymLink()) {
                result.insert(entry + u'/', QByteArray());
                self(self, info.filePath());
            } else if (info.isSymLink()) {
                result.insert(entry, info.symLinkTarget().toUtf8());
            } else {
                QFile file(info.filePath());
                result.insert(entry, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
            }
        }
    };
    walk(walk, folder);
    return result;
}

} // namespace tolvex::testing
