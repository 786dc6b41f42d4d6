#include "Velmarin/Presentation/ProgramIcon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tolvex::ProgramIcon {

namespace {

QString svgName()
{
    return QString::fromLatin1(appID) + QStringLiteral(".svg");
}

} // namespace

QString svgPath(const QString& executableFolder)
{
    const QDir folder(executableFolder);
    const QString installed
        = folder.absoluteFilePath(QStringLiteral("../share/icons/hicolor/scalable/apps/") + svgName());
    if (QFileInfo(installed).isFile())
        return QDir::cleanPath(installed);
    const QString staged = folder.absoluteFilePath(svgName());
    if (QFileInfo(staged).isFile())
        return staged;
    return {};
}

QPixmap drawn(int pixels)
{
    // The shapes of the SVG, on its 128-unit grid.
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 128.0, pixels / 128.0);
    const QColor forest(0x45, 0x63, 0x4d);
    const QColor paper(0xfa, 0xf7, 0xf0);
    painter.setPen(QPen(paper, 6));
    painter.setBrush(forest);
    painter.drawRoundedRect(QRectF(5, 5, 118, 118), 26, 26);

    QPainterPath rope(QPointF(12, 34));
    rope.quadTo(QPointF(64, 54), QPointF(116, 34));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xd9, 0xcf, 0xb8), 6, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(rope);

    painter.setPen(Qt::NoPen);
    painter.setBrush(paper);
    painter.drawRoundedRect(QRectF(36, 46, 56, 62), 7, 7);
    painter.setPen(QPen(forest, 6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(48, 74), QPointF(80, 74));
    painter.drawLine(QPointF(48, 89), QPointF(70, 89));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc8, 0x55, 0x3d));
    painter.drawRoundedRect(QRectF(57, 34, 14, 24), 4, 4);
    return pixmap;
}

QIcon icon()
{
    const QString path = svgPath(QCoreApplication::applicationDirPath());
    if (!path.isEmpty() && QImageReader::supportedImageFormats().contains("svg"))
        return QIcon(path);
    QIcon painted;
    for (const int pixels : {16, 22, 24, 32, 48, 64, 128, 256})
        painted.addPixmap(drawn(pixels));
    return painted;
}

} // namespace tolvex::ProgramIcon
