// A second program on the test desktop that puts a text on the clipboard,
// with the program's own-copy marker when asked to: what a copy from a card
// in another running instance looks like. Prints "ready" once it owns the
// clipboard and serves it until it loses it or is ended.
//
//   tolvex-clipboard-owner [--marked] TEXT
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool marked = arguments.removeAll(QStringLiteral("--marked")) > 0;
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: tolvex-clipboard-owner [--marked] TEXT\n");
        return 2;
    }
    auto* data = new QMimeData;
    data->setText(arguments.first());
    if (marked)
        data->setData(QStringLiteral("application/x-local.tolvex.owned-copy"), "1");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data, QClipboard::Clipboard);
    QObject::connect(clipboard, &QClipboard::changed, &app, [clipboard](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
