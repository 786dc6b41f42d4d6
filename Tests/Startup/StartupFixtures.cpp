#include "StartupFixtures.h"

#include "TolvexCore/Texts/StringTable.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Startup/PathResolution.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <stdexcept>
#include <unistd.h>

namespace tolvex::testing {

namespace {

void require(bool condition, const char* what)
{
    if (!condition)
        throw std::runtime_error(what);
}

QByteArray quoted(const QString& text)
{
    QByteArray out = "\"";
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += '\\';
        if (c == u'\n') {
            out += "\\n";
            continue;
        }
        out += QString(c).toUtf8();
    }
    return out + '"';
}

} // namespace

QString builtBundlePath()
{
    return QStringLiteral(TOLVEX_RUNTIME_DIR "/Tolvex_TolvexCore.bundle");
}

QString builtStarterPath()
{
    return QStringLiteral(TOLVEX_RUNTIME_DIR "/StarterWorkspace");
}

QString builtExecutablePath()
{
    return QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex");
}

void copyTree(const QString& source, const QString& destination)
{
    require(QDir().mkpath(destination), "mkpath");
    const QDir from(source);
    for (const QFileInfo& entry :
        from.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = destination + u'/' + entry.fileName();
        if (entry.isDir())
            copyTree(entry.filePath(), target);
        else
            require(QFile::copy(entry.filePath(), target), "copy");
    }
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    require(QDir().mkpath(QFileInfo(path).absolutePath()), "mkpath");
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "open for writing");
    require(file.write(bytes) == bytes.size(), "write");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), "open for reading");
    return file.readAll();
}

void makeSymlink(const QString& target, const QString& link)
{
    require(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0, "symlink");
}

void editTable(const QString& tablePath, const std::function<void(QHash<QString, QString>&)>& edit)
{
    QHash<QString, QString> entries = StringTable::load(tablePath).entries();
    edit(entries);
    QStringList keys = entries.keys();
    keys.sort();
    QByteArray text;
    for (const QString& key : keys)
        text += quoted(key) + " = " + quoted(entries.value(key)) + ";\n";
    writeFile(tablePath, text);
}

WorkspaceSnapshot readSnapshot(const QString& workspace)
{
    return Json::decode<WorkspaceSnapshot>(readFile(workspace + QStringLiteral("/state.json")));
}

void writeSnapshot(const QString& workspace, const WorkspaceSnapshot& snapshot)
{
    writeFile(workspace + QStringLiteral("/state.json"), Json::encode(snapshot));
}

QList<QPair<QString, QByteArray>> treeContents(const QString& folder)
{
    QList<QPair<QString, QByteArray>> contents;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        contents.append({QDir(folder).relativeFilePath(path), readFile(path)});
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

InstalledTree::InstalledTree(bool withExecutable)
{
    if (!dir_.isValid())
        return;
    prefix_ = *PathResolution::resolvingSymlinks(dir_.path());
    require(QDir().mkpath(binFolder()), "mkpath bin");
    copyTree(builtBundlePath(), bundle());
    if (QFileInfo(builtStarterPath()).isDir())
        copyTree(builtStarterPath(), starter());
    if (withExecutable)
        require(QFile::copy(builtExecutablePath(), executable()), "copy executable");
    valid_ = true;
}

} // namespace tolvex::testing
