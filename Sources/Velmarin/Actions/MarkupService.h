#pragma once

#include <QImage>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <functional>

namespace tolvex {

// How a markup editor reports that it ended without an image.
struct MarkupServiceError {
    // The user closed the editor: this code in this domain, and only there.
    static inline const QString editorDomain = QStringLiteral("local.tolvex.markup");
    static constexpr int userCancelled = 3072;
    // The editor could not read the file it was given.
    static constexpr int unreadable = 259;

    QString domain;
    int code = 0;
};

// A markup editor the program hands an image file to. It is launched with the
// file and calls back at most once, on the GUI thread, after perform()
// returned: with what it made (a QImage, a file QUrl or a QMimeData*), or
// with an error. Once dismissed it never calls back.
class MarkupService {
public:
    using DidShare = std::function<void(QVariantList items)>;
    using DidFail = std::function<void(MarkupServiceError error)>;

    virtual ~MarkupService() = default;

    // Whether this editor can take the file; decided without touching the
    // disk, since it is asked on the GUI thread.
    virtual bool canPerform(const QUrl& item) const = 0;
    virtual void perform(const QUrl& item, DidShare didShare, DidFail didFail) = 0;
    // The session it was opened for has ended: close the editor, marks and
    // all, without an answer.
    virtual void dismiss() {}
    // Raises and activates the editor's window; false when it shows none.
    virtual bool bringForward() { return false; }
    // What the open editor holds that its file does not: a function that
    // draws the image with its marks at the image's own size, safe to call
    // on any thread. None when nothing was drawn or nothing is open.
    virtual std::function<QImage()> keptImage() const { return {}; }
};

} // namespace tolvex
