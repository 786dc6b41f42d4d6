#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStyle>

namespace tolvex {

namespace {

// The type a name alone gives. Where names disagree (".ts": a video or a
// translation) the database picks one without looking inside; where none
// matches it answers its generic type.
QMimeType typeByName(const QFileInfo& info)
{
    return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
}

} // namespace

void NameOnlyFileIconProvider::install(QFileDialog& dialog)
{
    // Only Qt's own dialog lists through a provider (and only it can be closed
    // by a privacy cover). The option comes first: a dialog that may still
    // become the desktop's has no list yet to give the provider to.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Dialogs point at their provider and never own it: this one outlives
    // them all, and has nothing for the exit to destroy after the application.
    static NameOnlyFileIconProvider shared;
    dialog.setIconProvider(&shared);
}

QIcon NameOnlyFileIconProvider::icon(IconType type) const
{
    // Qt's widget provider knows the style's icon for each; a fresh one per
    // call, since it keeps them in caches no two threads may share.
    return QFileIconProvider().icon(type);
}

QIcon NameOnlyFileIconProvider::icon(const QFileInfo& info) const
{
    if (info.isRoot())
        return icon(Drive);
    if (info.isDir())
        return info.isSymLink() ? QApplication::style()->standardIcon(QStyle::SP_DirLinkIcon) : icon(Folder);
    if (info.isSymLink())
        return QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon);
    if (info.isFile()) {
        const QMimeType mime = typeByName(info);
        for (const QString& name : {mime.iconName(), mime.genericIconName()}) {
            const QIcon themed = QIcon::fromTheme(name);
            if (!themed.isNull())
                return themed;
        }
    }
    return icon(File);
}

QString NameOnlyFileIconProvider::type(const QFileInfo& info) const
{
    // A regular file, or a link to one: Qt would look inside.
    if (info.isFile()) {
        const QMimeType mime = typeByName(info);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }
    // Folders, drives, links that lead nowhere and special files: Qt names
    // these from stat alone, in its own words and translations.
    return QAbstractFileIconProvider::type(info);
}

void NameOnlyFileIconProvider::setOptions(Options)
{
}

QAbstractFileIconProvider::Options NameOnlyFileIconProvider::options() const
{
    return DontUseCustomDirectoryIcons;
}

} // namespace tolvex
