// Builds the starter workspace that a new data root begins with: a welcome
// note, a picture and a one-page PDF hanging in the ungrouped group, with
// their "state.json" and "clipboard-settings.json". Run at build time:
//
//   tolvex-starter-generator <welcome-note.txt> <output folder>
//
// The output folder is replaced as a whole. Identifiers and dates are fixed
// and nothing depends on the machine's fonts, so the same sources always give
// the same bytes, and the digests in "state.json" always match the payloads.
#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

using namespace tolvex;

namespace {

// 2025-01-01T09:00:00Z.
const Date starterDate = Date::fromUnixSeconds(1735722000.0);

struct Payload {
    QUuid materialID;
    QUuid versionID;
    MaterialKind kind;
    ImportOrigin origin;
    QString title;
    QString extension;
    QByteArray bytes;
};

// --- The picture: three cards on a rope against an evening sky ---------------

QByteArray drawPicture()
{
    constexpr int width = 720;
    constexpr int height = 420;
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0.0, QColor(0x2b, 0x3a, 0x67));
    sky.setColorAt(0.55, QColor(0x6c, 0x8e, 0xbf));
    sky.setColorAt(1.0, QColor(0xf3, 0xc9, 0x8b));
    painter.fillRect(image.rect(), sky);

    QRadialGradient sun(QPointF(560, 330), 140);
    sun.setColorAt(0.0, QColor(255, 236, 179, 230));
    sun.setColorAt(1.0, QColor(255, 236, 179, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sun);
    painter.drawEllipse(QPointF(560, 330), 140, 140);

    // Gentle hills.
    QPainterPath hills;
    hills.moveTo(0, 340);
    hills.cubicTo(160, 290, 300, 380, 470, 330);
    hills.cubicTo(580, 300, 660, 320, width, 300);
    hills.lineTo(width, height);
    hills.lineTo(0, height);
    hills.closeSubpath();
    painter.setBrush(QColor(0x3d, 0x5a, 0x4a));
    painter.drawPath(hills);

    // The rope sags between two posts.
    const QPointF left(40, 70);
    const QPointF right(680, 70);
    const QPointF control(360, 190);
    const auto ropeAt = [&](double t) {
        const double u = 1.0 - t;
        return QPointF(u * u * left.x() + 2 * u * t * control.x() + t * t * right.x(),
            u * u * left.y() + 2 * u * t * control.y() + t * t * right.y());
    };
    painter.setPen(QPen(QColor(0x5b, 0x3a, 0x1e), 10, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(left.x(), left.y() - 20), QPointF(left.x(), height));
    painter.drawLine(QPointF(right.x(), right.y() - 20), QPointF(right.x(), height));
    QPainterPath rope;
    rope.moveTo(left);
    rope.quadTo(control, right);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(rope);

    // Three cards, each tilted a little and held by a clothespin.
    const struct {
        double t;
        double tilt;
        QColor paper;
        QColor mark;
    } cards[] = {
        {0.24, -6.0, QColor(0xfd, 0xf6, 0xe3), QColor(0x26, 0x8b, 0xd2)},
        {0.50, 2.5, QColor(0xff, 0xff, 0xff), QColor(0xd3, 0x36, 0x82)},
        {0.76, 7.0, QColor(0xee, 0xf6, 0xea), QColor(0x85, 0x99, 0x00)},
    };
    for (const auto& card : cards) {
        const QPointF anchor = ropeAt(card.t);
        painter.save();
        painter.translate(anchor);
        painter.rotate(card.tilt);
        const QRectF paper(-52, 8, 104, 132);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 60));
        painter.drawRoundedRect(paper.translated(4, 5), 6, 6);
        painter.setBrush(card.paper);
        painter.drawRoundedRect(paper, 6, 6);
        painter.setBrush(card.mark);
        painter.drawRoundedRect(QRectF(-38, 26, 76, 46), 4, 4);
        painter.setBrush(QColor(0x93, 0xa1, 0xa1));
        for (int line = 0; line < 3; ++line)
            painter.drawRoundedRect(QRectF(-38, 84 + line * 14, line == 2 ? 44 : 76, 6), 3, 3);
        painter.setBrush(QColor(0xb5, 0x89, 0x00));
        painter.drawRoundedRect(QRectF(-7, -14, 14, 34), 3, 3);
        painter.setBrush(QColor(0x8a, 0x66, 0x00));
        painter.drawEllipse(QPointF(0, 2), 3.5, 3.5);
        painter.restore();
    }
    painter.end();

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

// --- The PDF: one A5 landscape page, written object by object -----------------

QByteArray pdfText(const QByteArray& text)
{
    QByteArray escaped;
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return '(' + escaped + ')';
}

QByteArray writePdf()
{
    // A5 landscape in points.
    constexpr int pageWidth = 595;
    constexpr int pageHeight = 420;

    QByteArray content;
    // A warm band along the top and the red rope across it.
    content += "0.99 0.96 0.89 rg 0 330 595 90 re f\n";
    content += "0.75 0.22 0.17 RG 4 w 1 J 40 360 m 200 320 395 320 555 360 c S\n";
    content += "0.71 0.54 0 rg 140 335 10 26 re f 290 322 10 26 re f 440 335 10 26 re f\n";
    const QList<QByteArray> lines{
        "This is a PDF card.",
        "",
        "Tolvex keeps PDFs on the rope like any other card. Open one to read it,",
        "note the page you came from, or drag it out into another program.",
        "",
        "Take this card down whenever you like.",
    };
    content += "BT /F2 26 Tf 0.16 0.23 0.40 rg 56 270 Td ";
    content += pdfText("Tolvex") + " Tj ET\n";
    content += "BT /F1 13 Tf 0.2 0.2 0.2 rg 18 TL 56 236 Td\n";
    for (const QByteArray& line : lines)
        content += pdfText(line) + " Tj T*\n";
    content += "ET\n";

    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(pageWidth) + ' '
            + QByteArray::number(pageHeight)
            + "] /Resources << /Font << /F1 4 0 R /F2 5 0 R >> >> /Contents 6 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Title (Tolvex) /Producer (Tolvex) >>",
    };

    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (qsizetype index = 0; index < objects.size(); ++index) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(index + 1) + " 0 obj\n" + objects[index] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R /Info 7 0 R >>\n";
    pdf += "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// --- The workspace ------------------------------------------------------------

QString relativePathOf(const Payload& payload)
{
    return QStringLiteral("Materials/") + uuidText(payload.materialID) + u'/' + uuidText(payload.versionID) + u'.'
        + payload.extension;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

int fail(const char* message)
{
    std::fprintf(stderr, "tolvex-starter-generator: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3)
        return fail("usage: tolvex-starter-generator <welcome-note.txt> <output folder>");

    QFile noteFile(arguments[1]);
    if (!noteFile.open(QIODevice::ReadOnly))
        return fail("cannot read the welcome note");
    const QByteArray note = noteFile.readAll();
    const QByteArray picture = drawPicture();
    if (note.isEmpty() || picture.isEmpty())
        return fail("cannot make the payloads");

    const QList<Payload> payloads{
        {QUuid::fromString(u"7E1C0A52-3B9D-4F61-9C2E-5A4B1D0C7001"),
            QUuid::fromString(u"7E1C0A52-3B9D-4F61-9C2E-5A4B1D0C7101"), MaterialKind::text, ImportOrigin::note,
            QStringLiteral("Welcome to Tolvex"), QStringLiteral("txt"), note},
        {QUuid::fromString(u"7E1C0A52-3B9D-4F61-9C2E-5A4B1D0C7002"),
            QUuid::fromString(u"7E1C0A52-3B9D-4F61-9C2E-5A4B1D0C7102"), MaterialKind::image,
            ImportOrigin::fileSelection, QStringLiteral("Cards on the rope"), QStringLiteral("png"), picture},
        {QUuid::fromString(u"7E1C0A52-3B9D-4F61-9C2E-5A4B1D0C7003"),
            QUuid::fromString(u"7E1C0A52-3B9D-4F61-9C2E-5A4B1D0C7103"), MaterialKind::pdf,
            ImportOrigin::fileSelection, QStringLiteral("A one-page PDF"), QStringLiteral("pdf"), writePdf()},
    };

    WorkspaceSnapshot snapshot;
    std::int64_t order = 0;
    for (const Payload& payload : payloads) {
        MaterialRecord record;
        record.id = payload.materialID;
        record.kind = payload.kind;
        record.matterID = MatterGroup::ungroupedID();
        record.status = MaterialStatus::hanging;
        record.pinned = false;
        record.order = order++;
        record.title = payload.title;
        record.createdAt = starterDate;
        record.source.origin = payload.origin;
        record.versions.append(MaterialVersion{payload.versionID, relativePathOf(payload),
            ContentStore::digest(payload.bytes), payload.bytes.size(), VersionKind::original, starterDate});
        record.originalVersionID = payload.versionID;
        record.activeVersionID = payload.versionID;
        snapshot.materials.append(record);
    }
    const ClipboardPreference clipboard(false, true, true, true, false);

    const QString output = QDir::cleanPath(arguments[2]);
    QDir outputDir(output);
    if (outputDir.exists() && !outputDir.removeRecursively())
        return fail("cannot replace the output folder");
    if (!writeFile(output + QStringLiteral("/state.json"), Json::encode(snapshot))
        || !writeFile(output + QStringLiteral("/clipboard-settings.json"), Json::encode(clipboard)))
        return fail("cannot write the workspace files");
    for (const Payload& payload : payloads) {
        if (!writeFile(output + u'/' + relativePathOf(payload), payload.bytes))
            return fail("cannot write a payload");
    }
    return 0;
}
