#include "Intake/ScriptedPasteboard.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Intake/ClipboardLimits.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/MimeDataPasteboard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <system_error>

namespace tolvex::testing {
namespace {

using Items = QList<ScriptedPasteboard::Entries>;

const QString png = QString::fromUtf16(PasteboardType::png);
const QString tiff = QString::fromUtf16(PasteboardType::tiff);
const QString text = QString::fromUtf16(PasteboardType::string);

ClipboardPreference allowing(bool images, bool texts, bool files)
{
    return ClipboardPreference(true, images, texts, files, true);
}

// One read, told as a short string: the requests ("text:..", "image:png",
// "file:name"), "self" for our own copy, "nothing", or the error's case.
std::string describe(ClipboardGateway& gateway, const ClipboardPreference& preference)
{
    try {
        const ClipboardContents contents = waitForResult(gateway.readSnapshot(preference));
        QStringList parts;
        if (contents.isSelfProduced)
            parts.append(QStringLiteral("self"));
        for (const ImportRequest& request : contents.requests) {
            if (const auto* file = request.asFile()) {
                EXPECT_EQ(file->origin, ImportOrigin::clipboard);
                parts.append(QStringLiteral("file:") + QFileInfo(file->url.toLocalFile()).fileName());
            } else if (const auto* image = request.asImageData()) {
                EXPECT_EQ(image->source.origin, ImportOrigin::clipboard);
                parts.append(image->bytes.startsWith("\x89PNG") ? QStringLiteral("image:png") : QStringLiteral("image"));
            } else {
                const QString& body = request.asText()->text;
                EXPECT_EQ(request.asText()->source.origin, ImportOrigin::clipboard);
                parts.append(body.size() <= 16 ? QStringLiteral("text:") + body
                                               : QStringLiteral("text:%1 bytes").arg(body.toUtf8().size()));
            }
        }
        return parts.isEmpty() ? "nothing" : parts.join(u' ').toStdString();
    } catch (const StoreError& error) {
        return std::string(error.caseName());
    } catch (const ImageAdmissionError& error) {
        return error.what();
    } catch (const std::system_error& error) {
        return "errno " + std::to_string(error.code().value());
    }
}

class ClipboardGatewayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        QDir(folder.path()).mkpath(QStringLiteral("folder"));
        test::writeFixture(folder, QStringLiteral("a.txt"), "alpha");
        test::writeFixture(folder, QStringLiteral("b.txt"), "beta");
        test::writeFixture(folder, QStringLiteral("broken.png"), "not a png at all");
        test::writeFixture(folder, QStringLiteral("bomb.png"), test::craftedPng(100000, 100000));
        test::writeFixture(folder, QStringLiteral("bomb"), test::craftedPng(100000, 100000));
        QFile::link(path("a.txt"), path("link"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    }

    QString path(const QString& name) const { return folder.path() + u'/' + name; }
    QString url(const QString& name) const { return QUrl::fromLocalFile(path(name)).toString(); }

    QTemporaryDir folder;
};

// A PNG grown to exactly `size` bytes with a private chunk before IEND.
QByteArray pngOfSize(qsizetype size)
{
    const QByteArray whole = test::craftedPng(1, 1);
    const qsizetype padding = size - whole.size() - 12;
    return whole.left(whole.size() - 12) + test::pngChunk("prVt", QByteArray(padding, 'x')) + whole.right(12);
}

TEST_F(ClipboardGatewayTest, ReadsOneKindWithinTheLimits)
{
    const QByteArray pngBytes = test::craftedPng(4, 4);
    const QByteArray tiffBytes = test::tiffWithPages({test::greyTiffPage(4, 4, 9)});
    const ScriptedPasteboard::Entries pngAndTiff{{png, pngBytes}, {tiff, tiffBytes}};
    const Items thirtyThreeMarked(33, marked(textItem("x")));
    const Items thirtyTwo(32, textItem("x"));
    const QByteArray megabyte(ClipboardLimits::textBytes, 'm');
    const QByteArray imageLimit(ClipboardLimits::imageBytes, 'i');
    const QByteArray largest = pngOfSize(ClipboardLimits::imageBytes);
    const auto all = allowing(true, true, true);
    const auto none = allowing(false, false, false);

    struct Case {
        const char* name;
        Items items;
        ClipboardPreference preference;
        std::string expected;
    };
    const Case cases[] = {
        {"empty pasteboard", {}, all, "nothing"},
        {"only our own copies, nothing allowed", {marked(textItem("x")), marked(fileItem(url("a.txt")))}, none, "self"},
        {"our copy beside a plain text", {marked(textItem("x")), textItem("hello")}, all, "text:hello"},
        {"33 items, all ours", thirtyThreeMarked, all, "budgetExceeded"},
        {"32 texts", thirtyTwo, all, QStringList(32, QStringLiteral("text:x")).join(u' ').toStdString()},
        {"a file and a text", {fileItem(url("a.txt")), textItem("hello")}, all, "file:a.txt"},
        {"a file and a text, files off", {fileItem(url("a.txt")), textItem("hello")}, allowing(true, true, false),
            "nothing"},
        {"an image and a text, images off", {{{png, pngBytes}, {text, "hello"}}}, allowing(false, true, true),
            "nothing"},
        {"PNG and TIFF on one item", {pngAndTiff}, all, "image:png"},
        {"TIFF alone", {{{tiff, tiffBytes}}}, all, "image"},
        {"blank text", {textItem(" \n\t \r\n")}, all, "nothing"},
        {"text with spaces around", {textItem("  word \n")}, all, "text:  word \n"},
        {"text of exactly the limit", {textItem(megabyte)}, all, "text:1048576 bytes"},
        {"text one byte over", {textItem(megabyte + 'm')}, all, "budgetExceeded"},
        {"text over the limit, read up to it inside a character",
            {textItem(QByteArray("\xc3\xa9").repeated(ClipboardLimits::textBytes))}, all, "budgetExceeded"},
        {"invalid UTF-8", {textItem("caf\xc3")}, all, "invalidSource"},
        {"image of exactly the limit passes the size test", {{{png, imageLimit}}}, all, "invalidImage"},
        {"image one byte over", {{{png, imageLimit + 'i'}}}, all, "invalidSource"},
        {"valid PNG of exactly the limit", {{{png, largest}}}, all, "image:png"},
        {"four images of the limit fill the batch", Items(4, {{png, largest}}), all,
            "image:png image:png image:png image:png"},
        {"a fifth one overflows it", Items(5, {{png, largest}}), all, "budgetExceeded"},
        {"PNG bomb as data", {{{png, test::craftedPng(100000, 100000)}}}, all, "pixelBudgetExceeded"},
        {"PNG bomb as a file", {fileItem(url("bomb.png"))}, all, "pixelBudgetExceeded"},
        {"PNG bomb without an extension", {fileItem(url("bomb"))}, all, "pixelBudgetExceeded"},
        {"undecodable image file", {fileItem(url("broken.png"))}, all, "invalidImage"},
        {"two files", {fileItem(url("a.txt")), fileItem(url("b.txt"))}, all, "file:a.txt file:b.txt"},
        {"file on a remote host", {fileItem(QStringLiteral("file://example.com/etc/hosts"))}, all, "invalidPath"},
        {"file on localhost", {fileItem(QStringLiteral("file://localhost") + path("a.txt"))}, all, "file:a.txt"},
        {"relative URL", {fileItem(QStringLiteral("docs/a.txt"))}, all, "invalidPath"},
        {"web address", {fileItem(QStringLiteral("https://example.com/a.txt"))}, all, "invalidPath"},
        {"unparseable URL", {fileItem(QStringLiteral("file:///a b%zz"))}, all, "invalidPath"},
        {"symbolic link", {fileItem(url("link"))}, all, "invalidSource"},
        {"FIFO", {fileItem(url("fifo"))}, all, "invalidSource"},
        {"folder", {fileItem(url("folder"))}, all, "invalidSource"},
        {"device", {fileItem(QStringLiteral("file:///dev/null"))}, all, "invalidSource"},
        {"missing file", {fileItem(url("gone.txt"))}, all, "errno 2"},
        {"file owner gone", {{{QString::fromUtf16(PasteboardType::fileURL), std::nullopt}}}, all, "invalidPath"},
        {"image owner gone", {{{png, std::nullopt}}}, all, "invalidSource"},
        {"text owner gone", {{{text, std::nullopt}}}, all, "nothing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pasteboard = std::make_shared<ScriptedPasteboard>();
        pasteboard->set(c.items);
        SystemClipboardGateway gateway(pasteboard);
        EXPECT_EQ(describe(gateway, c.preference), c.expected);
    }
}

TEST_F(ClipboardGatewayTest, AWriteDuringTheReadFailsIt)
{
    auto pasteboard = std::make_shared<ScriptedPasteboard>();
    pasteboard->set({textItem("first"), textItem("second")});
    pasteboard->onRead = [&] { pasteboard->bump(); };
    SystemClipboardGateway gateway(pasteboard);
    EXPECT_EQ(describe(gateway, allowing(true, true, true)), "sourceChanged");

    // The early answers do not look again.
    pasteboard->set({marked(textItem("ours"))});
    EXPECT_EQ(describe(gateway, allowing(true, true, true)), "self");
}

TEST_F(ClipboardGatewayTest, DropAndClipboardDataBecomeTheSameItems)
{
    const QByteArray twoFiles = (QStringLiteral("# from a file manager\r\n") + url("a.txt") + QStringLiteral("\r\n")
        + url("b.txt") + QStringLiteral("\r\n")).toUtf8();
    QByteArray thirtyThree;
    for (int i = 0; i < 33; ++i)
        thirtyThree += url("a.txt").toUtf8() + '\n';

    struct Case {
        const char* name;
        QList<std::pair<QString, QByteArray>> formats;
        std::string expected;
    };
    const Case cases[] = {
        {"URI list", {{QStringLiteral("text/uri-list"), twoFiles}, {text, "ignored"}}, "file:a.txt file:b.txt"},
        {"GNOME's copied files", {{QStringLiteral("x-special/gnome-copied-files"),
                                     ("copy\n" + url("a.txt") + u'\n' + url("b.txt")).toUtf8()}},
            "file:a.txt file:b.txt"},
        {"our own copy", {{QStringLiteral("text/uri-list"), twoFiles},
                             {QString::fromUtf16(PasteboardType::ownCopy), "1"}},
            "self"},
        {"33 files", {{QStringLiteral("text/uri-list"), thirtyThree}}, "budgetExceeded"},
        {"a URI list too long to be read",
            {{QStringLiteral("text/uri-list"), "file:///" + QByteArray(MimeDataPasteboard::uriListBytes, 'a')}},
            "budgetExceeded"},
        {"text with a charset only", {{QStringLiteral("text/plain;charset=utf-8"), "hi"}}, "text:hi"},
        {"an image beside its text", {{png, test::craftedPng(2, 2)}, {text, "caption"}}, "image:png"},
        {"no formats", {}, "nothing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QMimeData data;
        for (const auto& [format, bytes] : c.formats)
            data.setData(format, bytes);
        SystemClipboardGateway gateway(std::make_shared<MimeDataPasteboard>(&data));
        EXPECT_EQ(describe(gateway, allowing(true, true, true)), c.expected);
    }
}

} // namespace
} // namespace tolvex::testing
