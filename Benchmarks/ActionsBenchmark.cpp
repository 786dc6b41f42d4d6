// What the material actions cost on large pictures, off the GUI thread:
// the PNG a copy puts on the clipboard, the PNG and TIFF a drag offers, and
// the markup editor's full-resolution render of its marks. Prints the
// median of a few runs of each, in milliseconds.
#include "Velmarin/Actions/FirstFrame.h"
#include "Velmarin/Actions/MarkupMarks.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// A screenshot-like picture: flat areas, text-like detail and a gradient.
QImage screenshot(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(246, 246, 246));
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, 0);
    gradient.setColorAt(0, QColor(40, 90, 160));
    gradient.setColorAt(1, QColor(200, 120, 40));
    painter.fillRect(0, 0, width, height / 8, gradient);
    painter.setPen(Qt::black);
    for (int y = height / 8 + 20; y < height; y += 22)
        painter.drawText(20, y, QStringLiteral("Lorem ipsum dolor sit amet, consectetur adipiscing elit %1").arg(y));
    return image;
}

double medianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir folder;
    const QImage picture = screenshot(3840, 2160);
    const QString file = folder.filePath(QStringLiteral("shot.png"));
    picture.save(file);
    const QUrl url = QUrl::fromLocalFile(file);

    QList<tolvex::MarkupMark> marks;
    for (int i = 0; i < 100; ++i) {
        tolvex::MarkupMark mark;
        mark.tool = i % 3 == 0 ? tolvex::MarkupMark::Tool::highlighter : tolvex::MarkupMark::Tool::pen;
        for (int p = 0; p < 50; ++p)
            mark.points.append(QPointF((i * 37 + p * 11) % 3840, (i * 19 + p * 7) % 2160));
        marks.append(mark);
    }

    std::printf("3840 x 2160 screenshot (%lld bytes as PNG), median of 5 runs:\n",
        static_cast<long long>(QFileInfo(file).size()));
    std::printf("  copy: first frame as PNG            %8.1f ms\n",
        medianMs(5, [&] { tolvex::firstFrameRepresentations(url, false); }));
    std::printf("  drag: first frame as PNG and TIFF   %8.1f ms\n",
        medianMs(5, [&] { tolvex::firstFrameRepresentations(url, true); }));
    std::printf("  markup: 100 strokes rendered        %8.1f ms\n",
        medianMs(5, [&] { tolvex::renderMarks(picture, marks); }));
    return 0;
}
