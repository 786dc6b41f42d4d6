#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Startup/AppBundle.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace tolvex::testing {

// The resources the build stages beside its executables.
QString builtBundlePath();
QString builtStarterPath();
QString builtExecutablePath();

// Copies a folder tree (regular files and folders only).
void copyTree(const QString& source, const QString& destination);
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
void makeSymlink(const QString& target, const QString& link);

// Rewrites a string table with `edit` applied to its entries.
void editTable(const QString& tablePath, const std::function<void(QHash<QString, QString>&)>& edit);

// Reads and rewrites the "state.json" of a workspace folder.
WorkspaceSnapshot readSnapshot(const QString& workspace);
void writeSnapshot(const QString& workspace, const WorkspaceSnapshot& snapshot);

// Every file below a folder, as sorted relative paths with their bytes.
QList<QPair<QString, QByteArray>> treeContents(const QString& folder);

// A copy of the installed layout in a temporary folder:
//   <prefix>/bin/[tolvex]
//   <prefix>/share/tolvex/Tolvex_TolvexCore.bundle
//   <prefix>/share/tolvex/StarterWorkspace
class InstalledTree {
public:
    explicit InstalledTree(bool withExecutable = false);

    bool isValid() const { return valid_; }
    // Resolved, so that it compares with what the program sees of itself.
    const QString& prefix() const { return prefix_; }
    QString binFolder() const { return prefix_ + QStringLiteral("/bin"); }
    QString executable() const { return binFolder() + QStringLiteral("/tolvex"); }
    QString resources() const { return prefix_ + QStringLiteral("/share/tolvex"); }
    QString bundle() const { return resources() + QStringLiteral("/Tolvex_TolvexCore.bundle"); }
    QString starter() const { return resources() + QStringLiteral("/StarterWorkspace"); }
    QString table(const QString& language) const
    {
        return bundle() + u'/' + language + QStringLiteral(".lproj/Localizable.strings");
    }
    // A folder of the same temporary tree outside the layout.
    QString scratch(const QString& name) const { return prefix_ + QStringLiteral("/scratch/") + name; }
    AppBundle appBundle() const { return AppBundle::forExecutableFolder(binFolder()); }

private:
    QTemporaryDir dir_;
    QString prefix_;
    bool valid_ = false;
};

} // namespace tolvex::testing
