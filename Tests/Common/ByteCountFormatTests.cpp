#include "Velmarin/Common/ByteCountFormat.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(ByteCountFormatTest, DecimalUnitsInTheWordsAndDecimalSignOfTheLanguage)
{
    struct Case {
        std::int64_t bytes;
        const char* english;
        const char* spanish;
        const char* chinese;
    };
    const Case cases[]{
        {0, "0 bytes", "0 bytes", "0 字节"},
        {1, "1 byte", "1 byte", "1 字节"},
        {999, "999 bytes", "999 bytes", "999 字节"},
        {-5, "-5 bytes", "-5 bytes", "-5 字节"},
        {1000, "1 KB", "1 KB", "1 KB"},
        {1499, "1 KB", "1 KB", "1 KB"},
        {999'499, "999 KB", "999 KB", "999 KB"},
        {999'999, "1 MB", "1 MB", "1 MB"},
        {1'550'000, "1.6 MB", "1,6 MB", "1.6 MB"},
        {10'000'000, "10 MB", "10 MB", "10 MB"},
        {1'234'567'890, "1.23 GB", "1,23 GB", "1.23 GB"},
        {2'500'000'000, "2.5 GB", "2,5 GB", "2.5 GB"},
        {3'000'000'000'000, "3 TB", "3 TB", "3 TB"},
        {-1'500, "-2 KB", "-2 KB", "-2 KB"},
    };
    const Localizer english(QStringLiteral("en"));
    const Localizer spanish(QStringLiteral("es"));
    const Localizer chinese(QStringLiteral("zh-Hans"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatByteCount(c.bytes, english), QString::fromUtf8(c.english));
        EXPECT_EQ(formatByteCount(c.bytes, spanish), QString::fromUtf8(c.spanish));
        EXPECT_EQ(formatByteCount(c.bytes, chinese), QString::fromUtf8(c.chinese));
    }
}

} // namespace
} // namespace tolvex
