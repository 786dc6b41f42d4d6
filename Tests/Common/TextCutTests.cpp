#include "Velmarin/Common/TextCut.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(TextCutTest, NeverEndsInHalfASurrogatePair)
{
    // U+1F4CE (paperclip) is the pair D83D DCCE.
    const QString clip = QString::fromUtf8("ab\xF0\x9F\x93\x8E" "cd");
    struct Case {
        qsizetype limit;
        QString expected;
    };
    const Case cases[]{
        {0, QString()},
        {2, QStringLiteral("ab")},
        {3, QStringLiteral("ab")}, // would end between D83D and DCCE
        {4, QString::fromUtf8("ab\xF0\x9F\x93\x8E")},
        {5, QString::fromUtf8("ab\xF0\x9F\x93\x8E" "c")},
        {6, clip},
        {60, clip},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        EXPECT_EQ(cutAtCharacter(clip, c.limit), c.expected);
    }
    // A lone high surrogate at the end of the text is kept as it is.
    const QString lone = QStringLiteral("a") + QChar(0xD83D);
    EXPECT_EQ(cutAtCharacter(lone, 2), lone);
}

} // namespace
} // namespace tolvex
