#include "TolvexCore/Texts/MessageFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace tolvex;
using Kind = MessageFormat::Kind;

namespace {

QString format(const char* text, std::initializer_list<FormatArgument> arguments)
{
    return MessageFormat::format(QString::fromUtf8(text), arguments);
}

} // namespace

TEST(MessageFormatTest, FillsSequentialAndPositionalPlaceholders)
{
    EXPECT_EQ(format("%d of %d", {3, 12}), QStringLiteral("3 of 12"));
    EXPECT_EQ(format("Materials: %d · Exports: %d · Edits: %d · Total: %@", {1, 2, 3, "4 MB"}),
        QString::fromUtf8("Materials: 1 · Exports: 2 · Edits: 3 · Total: 4 MB"));
    EXPECT_EQ(format("第 %1$d 张，共 %2$d 张", {3, 12}), QString::fromUtf8("第 3 张，共 12 张"));
    EXPECT_EQ(format("%2$@ then %1$@, again %2$@", {"one", "two"}), QStringLiteral("two then one, again two"));
    // Positional placeholders do not move the running count of the others.
    EXPECT_EQ(format("%2$@ %@ %@", {"a", "b"}), QStringLiteral("b a b"));
    EXPECT_EQ(format("100%% of %@", {"it"}), QStringLiteral("100% of it"));
    EXPECT_EQ(format("no placeholders", {1, "x"}), QStringLiteral("no placeholders"));
    EXPECT_EQ(format("", {}), QString());
}

TEST(MessageFormatTest, WritesIntegersAndNumbersExactly)
{
    const std::int64_t smallest = std::numeric_limits<std::int64_t>::min();
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(format("%ld|%lld|%i", {smallest, -5, 0}), QStringLiteral("-9223372036854775808|-5|0"));
    EXPECT_EQ(format("%lu|%u|%llu|%zu", {largest, 7u, 8, std::size_t{9}}),
        QStringLiteral("18446744073709551615|7|8|9"));
    EXPECT_EQ(format("%d", {largest}), QStringLiteral("18446744073709551615"));
    EXPECT_EQ(format("%f|%.2f|%.0f|%1$.1f", {2.5, 3.14159, 7, }), QStringLiteral("2.500000|3.14|7|2.5"));
    EXPECT_EQ(format("%@", {QString::fromUtf8("日本 😀")}), QString::fromUtf8("日本 😀"));
}

TEST(MessageFormatTest, LeavesWhatItCannotFillAsWritten)
{
    // Missing arguments.
    EXPECT_EQ(format("%d of %d", {3}), QStringLiteral("3 of %d"));
    EXPECT_EQ(format("%3$@ and %1$@", {"a"}), QStringLiteral("%3$@ and a"));
    EXPECT_EQ(format("%@", {}), QStringLiteral("%@"));
    // Wrong kinds.
    EXPECT_EQ(format("%d files", {"three"}), QStringLiteral("%d files"));
    EXPECT_EQ(format("%@ files", {3}), QStringLiteral("%@ files"));
    EXPECT_EQ(format("%d", {2.5}), QStringLiteral("%d"));
    // Unknown or incomplete specifiers, printf's dangerous ones included.
    EXPECT_EQ(format("%s %n %x %5d %-d %c %lf", {"a", 1, 2, 3, 4, 5, 6.0}),
        QStringLiteral("%s %n %x %5d %-d %c %lf"));
    EXPECT_EQ(format("50% off %@", {"now"}), QStringLiteral("50% off now"));
    EXPECT_EQ(format("trailing %", {1}), QStringLiteral("trailing %"));
    EXPECT_EQ(format("%0$@ %99999$@ %.2@ %ll", {"a"}), QStringLiteral("%0$@ %99999$@ %.2@ %ll"));
    EXPECT_EQ(format("%1$", {"a"}), QStringLiteral("%1$"));
    // A kind mismatch still uses up its sequential slot, as printf would.
    EXPECT_EQ(format("%d %@", {"x", "y"}), QStringLiteral("%d y"));
}

TEST(MessageFormatTest, ListsPlaceholdersForComparingTranslations)
{
    const auto found = MessageFormat::placeholders(QStringLiteral("%% %d of %2$ld: %@ %s"));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].position, 1);
    EXPECT_EQ(found[0].kind, Kind::integer);
    EXPECT_EQ(found[0].written, QStringLiteral("%d"));
    EXPECT_EQ(found[1].position, 2);
    EXPECT_EQ(found[1].kind, Kind::integer);
    EXPECT_EQ(found[1].written, QStringLiteral("%2$ld"));
    EXPECT_EQ(found[2].position, 2);
    EXPECT_EQ(found[2].kind, Kind::text);
    EXPECT_EQ(found[3].kind, Kind::unknown);
    EXPECT_EQ(found[3].written, QStringLiteral("%s"));

    const auto english = MessageFormat::placeholderSignature(QStringLiteral("%d of %d"));
    EXPECT_EQ(MessageFormat::placeholderSignature(QString::fromUtf8("第 %1$d 张，共 %2$d 张")), english);
    EXPECT_EQ(MessageFormat::placeholderSignature(QStringLiteral("%2$d, %1$d")), english);
    EXPECT_NE(MessageFormat::placeholderSignature(QStringLiteral("%d of %@")), english);
    EXPECT_NE(MessageFormat::placeholderSignature(QStringLiteral("%d")), english);
    EXPECT_NE(MessageFormat::placeholderSignature(QStringLiteral("%1$d %1$d")), english);
    EXPECT_EQ(MessageFormat::placeholderSignature(QStringLiteral("%ld of %u")), english);
    EXPECT_TRUE(MessageFormat::placeholderSignature(QStringLiteral("100%% sure")).empty());
}

TEST(MessageFormatTest, ReplacesLiteralPlaceholdersAsPlainText)
{
    EXPECT_EQ(MessageFormat::replacingLiteral(QStringLiteral("Page %d (%d)"), QStringLiteral("%d"), QStringLiteral("4")),
        QStringLiteral("Page 4 (4)"));
    // The inserted text is not scanned again.
    EXPECT_EQ(MessageFormat::replacingLiteral(QStringLiteral("%@!"), QStringLiteral("%@"), QStringLiteral("%@%@")),
        QStringLiteral("%@%@!"));
    EXPECT_EQ(MessageFormat::replacingLiteral(QStringLiteral("%1$@"), QStringLiteral("%@"), QStringLiteral("x")),
        QStringLiteral("%1$@"));
}
