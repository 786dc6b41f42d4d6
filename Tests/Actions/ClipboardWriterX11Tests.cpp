// Copies land on the real CLIPBOARD selection of the test desktop, where
// another program (xclip) reads them back, marker included, so that the
// program's own clipboard intake knows to skip them.
#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "Velmarin/Actions/OwnedCopyMarker.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Platform/QtClipboardWriter.h"

#include <QGuiApplication>
#include <QProcess>

namespace tolvex {
namespace {

using namespace testing;
using namespace test;

// What xclip reads for one target; the event loop keeps running, since we
// are the selection's owner and must answer it.
QByteArray readSelection(const QString& target)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
        {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"), QStringLiteral("-t"), target});
    EXPECT_TRUE(xclip.waitForStarted());
    EXPECT_TRUE(waitUntil([&] { return xclip.state() == QProcess::NotRunning; })) << target.toStdString();
    return xclip.readAllStandardOutput();
}

TEST(ClipboardWriterX11Tests, CopiesReadBackFromAnotherProgram)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ActionsFixture fixture;
    const QImage picture = patternImage(16, 12);
    const QUuid text = fixture.add("copied through X", MaterialKind::text, QStringLiteral("txt")).id;
    const QUuid image = fixture.add(encodeImage(picture, "png"), MaterialKind::image, QStringLiteral("png")).id;
    fixture.start();
    QtClipboardWriter clipboard;
    MaterialActions actions(*fixture.line, fixture.builder.rootURL(), fixture.store.get(), &clipboard, &fixture.desktop,
        &fixture.markup);

    const struct {
        const char* name;
        QUuid id;
        QString type;
        std::function<void(const QByteArray&)> check;
    } cases[] = {
        {"text", text, QStringLiteral("text/plain"),
            [](const QByteArray& bytes) { EXPECT_EQ(bytes, QByteArray("copied through X")); }},
        {"image", image, QStringLiteral("image/png"),
            [&](const QByteArray& bytes) {
                EXPECT_EQ(QImage::fromData(bytes).convertToFormat(picture.format()), picture);
            }},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(ActionsFixture::attempt(actions.copy(c.id, false))) << c.name;
        const QByteArray targets = readSelection(QStringLiteral("TARGETS"));
        EXPECT_TRUE(targets.contains(ownedCopyMimeType.toUtf8())) << c.name << ": " << targets.toStdString();
        EXPECT_EQ(readSelection(ownedCopyMimeType), QByteArray("1")) << c.name;
        c.check(readSelection(c.type));
        SystemClipboardGateway intake(std::make_shared<SystemPasteboard>());
        EXPECT_TRUE(intake.readSnapshot().result().isSelfProduced) << c.name;
    }
}

} // namespace
} // namespace tolvex
