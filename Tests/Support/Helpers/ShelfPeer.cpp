// A window of another program for the shelf's x11 tests. It reports on
// standard output, one line each: "ready <window id>" once mapped,
// "click <x> <y>" for every press (global coordinates), "drop <uri>..." for
// every drop it takes; with --drag FILE, a press starts a drag of FILE and
// reports "dragging" once the drag runs, so a test moves the pointer only
// when the drag can follow it, and "answered <0|1>" when the drop target
// answers the drop (its XdndFinished arrives: refused or accepted). Qt's
// drag returns as soon as the drop is sent, so only that message tells
// whether the target has answered.
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

namespace {

class Peer final : public QWidget {
public:
    explicit Peer(QString dragFile) : dragFile_(std::move(dragFile)) { setAcceptDrops(true); }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        const QPoint global = event->globalPosition().toPoint();
        std::printf("click %d %d\n", global.x(), global.y());
        std::fflush(stdout);
        if (dragFile_.isEmpty())
            return;
        auto* data = new QMimeData();
        data->setUrls({QUrl::fromLocalFile(dragFile_)});
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        QTimer::singleShot(0, this, [] {
            std::printf("dragging\n");
            std::fflush(stdout);
        });
        drag->exec(Qt::CopyAction);
    }
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (event->mimeData()->hasUrls())
            event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override
    {
        QString line = QStringLiteral("drop");
        for (const QUrl& url : event->mimeData()->urls())
            line += QLatin1Char(' ') + url.toString();
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
        event->acceptProposedAction();
    }
    void showEvent(QShowEvent*) override
    {
        QTimer::singleShot(100, this, [this] {
            std::printf("ready %llu\n", static_cast<unsigned long long>(winId()));
            std::fflush(stdout);
        });
    }

private:
    QString dragFile_;
};

// Reports every XdndFinished that reaches this program, before Qt takes it.
class DropAnswers final : public QAbstractNativeEventFilter {
public:
    explicit DropAnswers(xcb_connection_t* connection)
    {
        const char name[] = "XdndFinished";
        xcb_intern_atom_reply_t* reply
            = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
        if (reply)
            finished_ = reply->atom;
        std::free(reply);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (finished_ != XCB_NONE && client->type == finished_) {
            std::printf("answered %u\n", client->data.data32[1] & 1u);
            std::fflush(stdout);
        }
        return false;
    }

private:
    xcb_atom_t finished_ = XCB_NONE;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>())
        app.installNativeEventFilter(new DropAnswers(x11->connection()));
    QString dragFile;
    QRect geometry(0, 0, 1280, 800);
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--drag"))
            dragFile = arguments[i + 1];
        if (arguments[i] == QStringLiteral("--area")) {
            const QStringList parts = arguments[i + 1].split(QLatin1Char(','));
            if (parts.size() == 4)
                geometry = QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
        }
    }
    Peer peer(dragFile);
    peer.setWindowTitle(QStringLiteral("tolvex shelf peer"));
    // Undecorated, so that the window manager keeps it where it is put.
    peer.setWindowFlag(Qt::FramelessWindowHint);
    peer.setGeometry(geometry);
    peer.show();
    return app.exec();
}
