#pragma once

#include <QAbstractFileIconProvider>

class QFileDialog;

namespace tolvex {

// The icons and kinds a file chooser shows, told from a name and from what
// stat says, never from a file's bytes. Qt's own provider reads up to 16 KB
// of any file whose name does not settle its type, and Qt asks it on the GUI
// thread for every entry it lists and for a typed path it completes. One
// /proc/kmsg in the way (a regular file of size 0 to stat, whose read waits
// for the kernel) and the hot key and SIGTERM, both served by that thread,
// go unanswered. Holds no state of its own: the one instance serves every
// dialog, and an ask from Qt's gatherer thread touches nothing shared but
// what Qt's own provider would touch there.
class NameOnlyFileIconProvider final : public QAbstractFileIconProvider {
public:
    // Makes `dialog` Qt's own dialog and gives it the provider. Every file
    // dialog the program builds goes through here as soon as it is made,
    // before it is given a folder to list.
    static void install(QFileDialog& dialog);

    QIcon icon(IconType type) const override;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

    // A dialog passes its options on to its provider, here shared by all of
    // them: they are refused rather than kept. The one option there is asks
    // for folders' own icons, which means reading a file inside the folder.
    void setOptions(Options options) override;
    Options options() const override;
};

} // namespace tolvex
