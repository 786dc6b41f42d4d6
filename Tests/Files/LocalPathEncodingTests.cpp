#include "TolvexCore/Files/LocalPathEncoding.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

using namespace tolvex;

namespace {

QString escaped(const char* bytes)
{
    return decodeLocalPath(bytes);
}

} // namespace

TEST(LocalPathEncodingTest, AUriListEntryNamesTheExactBytesOfItsPathOrNothing)
{
    const struct {
        const char* entry;
        std::optional<QByteArray> bytes;
    } cases[] = {
        {"file:///shots/%FF%FE.png", QByteArray("/shots/\xFF\xFE.png")},
        {"file:///shots/%EF%BF%BD.png", QByteArray("/shots/\xEF\xBF\xBD.png")},
        {"file:///shots/%ED%B3%BF", QByteArray("/shots/\xED\xB3\xBF")},
        {"file:///shots/caf%C3%A9%20%25%23%3F.txt", QByteArray("/shots/caf\xC3\xA9 %#?.txt")},
        {"file:///shots/caf\xC3\xA9.txt", QByteArray("/shots/caf\xC3\xA9.txt")},
        {"file:///shots/raw\xFF.txt", QByteArray("/shots/raw\xFF.txt")},
        {"file://localhost/shots/a.txt", QByteArray("/shots/a.txt")},
        {"FILE:///shots/a.txt", QByteArray("/shots/a.txt")},
        {"file:///shots/a%3Bb%5B1%5D", QByteArray("/shots/a;b[1]")},
        // No name holds a "/" or a NUL: read as one, the path would name another file.
        {"file:///shots/a%2Fb", std::nullopt},
        {"file:///shots/a%2fb", std::nullopt},
        {"file:///shots/a%00b", std::nullopt},
        {"file://elsewhere.example/shots/a.txt", std::nullopt},
        {"https://example.com/a.txt", std::nullopt},
        {"shots/a.txt", std::nullopt},
        {"file:shots/a.txt", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(QByteArray(item.entry).toHex().toStdString());
        const std::optional<QUrl> url = localFileURL(item.entry);
        ASSERT_EQ(url.has_value(), item.bytes.has_value());
        if (!url)
            continue;
        EXPECT_EQ(encodeLocalPath(url->toLocalFile()), *item.bytes);
        // The URL made is exact itself, and so is the text URL it came from.
        EXPECT_EQ(exactLocalPath(*url), url->toLocalFile());
        // (Text that is not ASCII is no URL until its bytes are escaped.)
        const QByteArray entry(item.entry);
        if (std::all_of(entry.begin(), entry.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            EXPECT_EQ(encodeLocalPath(exactLocalPath(QUrl(QString::fromLatin1(entry))).value_or(QString())), *item.bytes);
    }
}

TEST(LocalPathEncodingTest, AUrlMadeFromAnExactPathGivesItBack)
{
    const QString paths[] = {
        escaped("/shots/\xFF\xFE.png"),
        escaped("/shots/\xFF\xEF\xBF\xBD"), // an undecodable byte beside a real U+FFFD
        QStringLiteral("/shots/\uFFFD\uFFFD.png"),
        QStringLiteral("/shots/100% #1?.txt"),
        escaped("/shots/a\xED\xA0\x80" "b"),
    };
    for (const QString& path : paths) {
        SCOPED_TRACE(encodeLocalPath(path).toHex().toStdString());
        EXPECT_EQ(exactLocalPath(QUrl::fromLocalFile(path)), path);
    }
    EXPECT_EQ(exactLocalPath(QUrl::fromLocalFile(QStringLiteral("/shots/a%2Fb"))), QStringLiteral("/shots/a%2Fb"));
}

TEST(LocalPathEncodingTest, TheReadableFormShowsEachUndecodedByteAsOneReplacementCharacter)
{
    EXPECT_EQ(readableLocalPath(escaped("/shots/\xFF\xFE.png")), QStringLiteral("/shots/\uFFFD\uFFFD.png"));
    EXPECT_EQ(readableLocalPath(escaped("/caf\xE9/\xC3")), QStringLiteral("/caf\uFFFD/\uFFFD"));
    EXPECT_TRUE(hasUndecodedBytes(escaped("/shots/\xFF")));
    // A name that is UTF-8 reads as itself, U+FFFD and surrogate pairs included.
    for (const QString& path : {QStringLiteral("/shots/\uFFFD.png"), QStringLiteral("/shots/\U0001F600.png")}) {
        EXPECT_FALSE(hasUndecodedBytes(path));
        EXPECT_EQ(readableLocalPath(path), path);
    }
}
