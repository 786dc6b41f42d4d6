#include "TolvexCore/Texts/StringTable.h"

#include "Texts/BundleFixture.h"

#include <QFuture>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

using namespace tolvex;
using Reason = StringTable::ParseError::Reason;

namespace {

StringTable parseText(const char* utf8)
{
    return StringTable::parse(QByteArray(utf8));
}

// Parses and reports the error, failing the test when the input is accepted.
StringTable::ParseError parseFailure(const QByteArray& bytes)
{
    try {
        StringTable::parse(bytes);
    } catch (const StringTable::ParseError& error) {
        return error;
    }
    ADD_FAILURE() << "accepted: " << bytes.toStdString();
    return StringTable::ParseError(Reason::unexpectedEnd, -1);
}

QByteArray utf16(const QString& text, bool bigEndian)
{
    QStringEncoder encoder(bigEndian ? QStringEncoder::Utf16BE : QStringEncoder::Utf16LE,
        QStringEncoder::Flag::WriteBom);
    return encoder.encode(text);
}

} // namespace

TEST(StringTableTest, ReadsPairsAroundCommentsAndWhitespace)
{
    const StringTable table = parseText(
        "/* header\n   spanning lines */\n"
        "\"a\" = \"first\";  // trailing comment\n"
        "\t\"b\"=\"second\" ;\n"
        "\"c\"\n=\n\"/* not a comment */ // nor this\";\n"
        "// last line comment without newline");
    EXPECT_EQ(table.size(), 3);
    EXPECT_EQ(table.value(QStringLiteral("a")), QStringLiteral("first"));
    EXPECT_EQ(table.value(QStringLiteral("b")), QStringLiteral("second"));
    EXPECT_EQ(table.value(QStringLiteral("c")), QStringLiteral("/* not a comment */ // nor this"));
    EXPECT_EQ(table.value(QStringLiteral("d")), std::nullopt);

    EXPECT_TRUE(parseText("").isEmpty());
    EXPECT_TRUE(parseText("  /* only */ // comments\n").isEmpty());
}

TEST(StringTableTest, ReadsUnquotedTokensBracesAndKeepsTheLastDuplicate)
{
    const StringTable table = parseText(
        "{\n"
        "  plain.key = value_1;\n"
        "  \"path\" = /usr/share/x-y:$HOME;\n"
        "  \"dup\" = \"old\";\n"
        "  dup = \"new\";\n"
        "  \"\" = \"empty key\";\n"
        "  \"empty\" = \"\";\n"
        "}\n");
    EXPECT_EQ(table.value(QStringLiteral("plain.key")), QStringLiteral("value_1"));
    EXPECT_EQ(table.value(QStringLiteral("path")), QStringLiteral("/usr/share/x-y:$HOME"));
    EXPECT_EQ(table.value(QStringLiteral("dup")), QStringLiteral("new"));
    EXPECT_EQ(table.value(QString()), QStringLiteral("empty key"));
    EXPECT_EQ(table.value(QStringLiteral("empty")), QString());
    EXPECT_EQ(table.entries().size(), 5);
}

TEST(StringTableTest, DecodesEscapes)
{
    const StringTable table = parseText(
        "\"quote\" = \"say \\\"hi\\\" \\\\ done\";\n"
        "\"controls\" = \"a\\nb\\tc\\rd\\0e\\'\";\n"
        "\"unicode\" = \"caf\\U00e9 \\u4E2D\";\n"
        "\"pair\" = \"\\UD83D\\uDE00!\";\n"
        "\"raw\" = \"line one\nline two \xE2\x9C\x93\";\n");
    EXPECT_EQ(table.value(QStringLiteral("quote")), QStringLiteral("say \"hi\" \\ done"));
    EXPECT_EQ(table.value(QStringLiteral("controls")), QString::fromUtf16(u"a\nb\tc\rd\0e'", 10));
    EXPECT_EQ(table.value(QStringLiteral("unicode")), QString::fromUtf8("caf\xC3\xA9 \xE4\xB8\xAD"));
    EXPECT_EQ(table.value(QStringLiteral("pair")), QString::fromUtf8("\xF0\x9F\x98\x80!"));
    EXPECT_EQ(table.value(QStringLiteral("raw")), QString::fromUtf8("line one\nline two \xE2\x9C\x93"));
}

TEST(StringTableTest, ReadsEveryEncodingWithTheSameResult)
{
    const QString text = QString::fromUtf8(
        "/* \xE4\xB8\xAD\xE6\x96\x87 */\n\"greeting\" = \"\xC2\xA1Hola! \xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80\";\n"
        "\"escaped\" = \"\\u00e9\";\n");
    const StringTable plain = StringTable::parse(text.toUtf8());
    ASSERT_EQ(plain.size(), 2);
    EXPECT_EQ(plain.value(QStringLiteral("greeting")), QString::fromUtf8("\xC2\xA1Hola! \xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80"));

    const QByteArray withBom = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    const QByteArray little = utf16(text, false);
    const QByteArray big = utf16(text, true);
    ASSERT_TRUE(little.startsWith("\xFF\xFE"));
    ASSERT_TRUE(big.startsWith("\xFE\xFF"));
    for (const QByteArray& bytes : {withBom, little, big})
        EXPECT_EQ(StringTable::parse(bytes).entries(), plain.entries());
}

TEST(StringTableTest, RefusesMalformedSyntaxNamingTheLine)
{
    struct Case {
        const char* input;
        Reason reason;
        int line;
    };
    const Case cases[] = {
        {"\"a\" = \"b\";\n\"c\" = \"never closed;\n// more\n", Reason::unterminatedString, 2},
        {"\"a\" = \"b\";\n\"c\" = \"closed by the next one;\n\"d\" = \"e\";", Reason::missingSemicolon, 3},
        {"\"a\" = \"b\";\n/* open\n\n", Reason::unterminatedComment, 2},
        {"\"a\" = \"b\";\n\n\"c\" \"d\";", Reason::missingEquals, 3},
        {"\"a\";", Reason::missingEquals, 1},
        {"\"a\" = \"b\"\n\"c\" = \"d\";", Reason::missingSemicolon, 1},
        {"\"a\" = \"b\"", Reason::missingSemicolon, 1},
        {"\"a\" = ;", Reason::unexpectedCharacter, 1},
        {"\n\"a\" = #;", Reason::unexpectedCharacter, 2},
        {"\"a\" = ", Reason::unexpectedEnd, 1},
        {"{ \"a\" = \"b\";", Reason::unexpectedEnd, 1},
        {"{ \"a\" = \"b\"; }\n\"c\" = \"d\";", Reason::unexpectedCharacter, 2},
        {"\"a\" = (\"list\");", Reason::unexpectedCharacter, 1},
        {"\"a\" = \"b\";\n\"c\" = \"bad \\q\";", Reason::invalidEscape, 2},
        {"\"a\" = \"\\u12G4\";", Reason::invalidEscape, 1},
        {"\"a\" = \"b\";\n\"c\" = \"\\012\";", Reason::invalidEscape, 2},
        {"\"a\" = \"\\09\";", Reason::invalidEscape, 1},
        {"\"a\" = \"\\u12\";", Reason::invalidEscape, 1},
        {"\"a\" = \"\\uDE00\";", Reason::invalidEscape, 1},
        {"\"a\" = \"\\uD83D\";", Reason::invalidEscape, 1},
        {"\"a\" = \"\\uD83Dx\";", Reason::invalidEscape, 1},
        {"\"a\" = \"\\uD83D\\u0041\";", Reason::invalidEscape, 1},
        {"\"a\" = \"ends in \\", Reason::unterminatedString, 1},
        {"\"a\"\r\r= \"b\" x;", Reason::missingSemicolon, 3},
    };
    for (const Case& c : cases) {
        const auto error = parseFailure(QByteArray(c.input));
        EXPECT_EQ(error.reason(), c.reason) << c.input;
        EXPECT_EQ(error.line(), c.line) << c.input;
        EXPECT_STRNE(error.what(), "");
    }
}

TEST(StringTableTest, RefusesBrokenEncodingsNamingTheLine)
{
    struct Case {
        QByteArray input;
        int line;
    };
    const Case cases[] = {
        {QByteArray("\"a\" = \"\xC0\x80\";"), 1},                       // overlong NUL
        {QByteArray("\n\"a\" = \"\x80\";"), 2},                         // stray continuation byte
        {QByteArray("\"a\" = \"b\";\n\n\"c\" = \"\xED\xA0\x80\";"), 3}, // encoded surrogate
        {QByteArray("\"a\" = \"\xF4\x90\x80\x80\";"), 1},               // above U+10FFFF
        {QByteArray("\"a\" = \"\xE4\xB8"), 1},                          // cut off at the end
        {QByteArray("\"a\" = \"\xFF\";"), 1},
        {QByteArray("\xFF\xFE\x22\x00\x61", 5), 1},                      // UTF-16 with an odd byte
        {QByteArray("\xFF\xFE\x0A\x00\x00\xDC", 6), 2},                 // lone low surrogate
        {QByteArray("\xFE\xFF\xD8\x3D\x00\x41", 6), 1},                 // high surrogate without a low one
        {QByteArray("\xFE\xFF\xD8\x3D", 4), 1},                         // dangling high surrogate at the end
        {QByteArray("\x22\x00\x61\x00\x22\x00", 6), 1},                 // UTF-16 without a byte-order mark
        {QByteArray("\xFE\xFF\x00\x0A\x00\x00", 6), 2},                 // NUL in UTF-16
    };
    for (const Case& c : cases) {
        const auto error = parseFailure(c.input);
        EXPECT_EQ(error.reason(), Reason::invalidEncoding) << c.input.toHex().toStdString();
        EXPECT_EQ(error.line(), c.line) << c.input.toHex().toStdString();
    }
}

TEST(StringTableTest, LoadsFilesAndReportsFileErrorsWithErrno)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString good = directory.filePath(QStringLiteral("Good.strings"));
    fixture::writeFile(good, utf16(QStringLiteral("\"k\" = \"v\";"), true));
    EXPECT_EQ(StringTable::load(good).value(QStringLiteral("k")), QStringLiteral("v"));

    const auto errnoOf = [](const QString& path) {
        try {
            StringTable::load(path);
        } catch (const std::system_error& error) {
            return error.code().value();
        }
        return 0;
    };
    EXPECT_EQ(errnoOf(directory.filePath(QStringLiteral("Missing.strings"))), ENOENT);
    EXPECT_EQ(errnoOf(directory.path()), EISDIR);
    // A FIFO would block the reader forever: refused without being read.
    const QString fifo = directory.filePath(QStringLiteral("Fifo.strings"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(errnoOf(fifo), EINVAL);

    const QString bad = directory.filePath(QStringLiteral("Bad.strings"));
    fixture::writeFile(bad, "\"k\" = \"v\"");
    EXPECT_THROW(StringTable::load(bad), StringTable::ParseError);
}

TEST(StringTableTest, ParseErrorCrossesAFutureAsItself)
{
    QFuture<StringTable> future = QtConcurrent::run([] { return StringTable::parse("\"a\" = \n\"b"); });
    try {
        future.waitForFinished();
        ADD_FAILURE() << "no error";
    } catch (const StringTable::ParseError& error) {
        EXPECT_EQ(error.reason(), Reason::unterminatedString);
        EXPECT_EQ(error.line(), 2);
    }
}
