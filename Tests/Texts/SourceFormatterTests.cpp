#include "TolvexCore/Texts/Localizer.h"
#include "TolvexCore/Texts/SourceFormatter.h"
#include "TolvexCore/Model/StoreError.h"

#include "Texts/BundleFixture.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <limits>

using namespace tolvex;

namespace {

constexpr std::int64_t largestIndex = std::numeric_limits<std::int64_t>::max();

class SourceFormatterTest : public ::testing::Test {
protected:
    SourceFormatterTest()
    {
        bundle_.addLanguage(QStringLiteral("en"),
            fixture::table({{"note.origin", "Note"}, {"source.manual", "by hand"}, {"source.pdfPage", "Page %d"},
                {"source.printedPage", "Printed %@"}}));
        bundle_.addLanguage(QStringLiteral("es"),
            fixture::table({{"source.pdfPage", "p. %d de 100% (%d)"}, {"source.printedPage", "%@ / %d / %@"}}));
    }

    Localizer english() const { return Localizer(QStringLiteral("en"), ResourceBundle(bundle_.path())); }
    Localizer spanish() const { return Localizer(QStringLiteral("es"), ResourceBundle(bundle_.path())); }

    static SourceRecord source(ImportOrigin origin = ImportOrigin::clipboard)
    {
        SourceRecord record;
        record.origin = origin;
        return record;
    }

    static bool passes(const SourceRecord& record)
    {
        try {
            SourceFormatter::validate(record);
            return true;
        } catch (const StoreError& error) {
            EXPECT_EQ(error.code(), StoreError::Code::invalidSource);
            return false;
        }
    }

    fixture::TemporaryBundle bundle_;
};

} // namespace

TEST_F(SourceFormatterTest, DescribesThePartsInOrder)
{
    const Localizer localizer = english();
    EXPECT_EQ(SourceFormatter::describe(source(ImportOrigin::note), localizer), QStringLiteral("Note"));
    EXPECT_EQ(SourceFormatter::describe(source(), localizer), std::nullopt);

    SourceRecord web = source();
    web.webURL = QUrl(QStringLiteral("https://example.org/a b?q=1"));
    EXPECT_EQ(SourceFormatter::describe(web, localizer), QStringLiteral("https://example.org/a%20b?q=1"));
    web.isManuallyRegistered = true;
    EXPECT_EQ(SourceFormatter::describe(web, localizer),
        QString::fromUtf8("https://example.org/a%20b?q=1 \xC2\xB7 by hand"));

    SourceRecord everything = source(ImportOrigin::note);
    everything.manualTitle = QStringLiteral("Report");
    everything.filePath = QStringLiteral("/home/u/report.pdf");
    everything.webURL = QUrl(QStringLiteral("http://example.org/"));
    everything.locator = PageLocator::pdfIndex(4);
    everything.fileBookmark = QByteArray("ignored");
    EXPECT_EQ(SourceFormatter::describe(everything, localizer),
        QString::fromUtf8("Note \xC2\xB7 Report \xC2\xB7 /home/u/report.pdf \xC2\xB7 http://example.org/ \xC2\xB7 Page 5"));

    // An empty manual title adds nothing; a present empty file path is shown as stored.
    SourceRecord emptyTitle = source();
    emptyTitle.manualTitle = QString();
    EXPECT_EQ(SourceFormatter::describe(emptyTitle, localizer), std::nullopt);

    SourceRecord onlyManual = source();
    onlyManual.isManuallyRegistered = true;
    EXPECT_EQ(SourceFormatter::describe(onlyManual, localizer), std::nullopt);
}

TEST_F(SourceFormatterTest, DescribesPagesByPlainReplacement)
{
    const Localizer localizer = english();
    SourceRecord page = source();
    page.locator = PageLocator::pdfIndex(0);
    EXPECT_EQ(SourceFormatter::describe(page, localizer), QStringLiteral("Page 1"));
    page.locator = PageLocator::pdfIndex(-1);
    EXPECT_EQ(SourceFormatter::describe(page, localizer), std::nullopt);
    // Refused by validate but possible in a loaded workspace: shown exactly, without overflow.
    page.locator = PageLocator::pdfIndex(largestIndex);
    EXPECT_EQ(SourceFormatter::describe(page, localizer), QStringLiteral("Page 9223372036854775808"));
    EXPECT_EQ(SourceFormatter::pageNumberText(largestIndex - 1), QStringLiteral("9223372036854775807"));

    SourceRecord printed = source();
    printed.locator = PageLocator::printedPage(QStringLiteral("xii"));
    EXPECT_EQ(SourceFormatter::describe(printed, localizer), QString::fromUtf8("Printed xii \xC2\xB7 by hand"));
    // The label is inserted as it is, even when it looks like a placeholder.
    printed.locator = PageLocator::printedPage(QStringLiteral("%d%@"));
    EXPECT_EQ(SourceFormatter::describe(printed, localizer), QString::fromUtf8("Printed %d%@ \xC2\xB7 by hand"));

    // Every occurrence is replaced, and any other "%" is shown unchanged.
    const Localizer other = spanish();
    page.locator = PageLocator::pdfIndex(6);
    EXPECT_EQ(SourceFormatter::describe(page, other), QStringLiteral("p. 7 de 100% (7)"));
    printed.locator = PageLocator::printedPage(QStringLiteral("A-3"));
    EXPECT_EQ(SourceFormatter::describe(printed, other), QString::fromUtf8("A-3 / %d / A-3 \xC2\xB7 by hand"));
}

TEST_F(SourceFormatterTest, ValidatesPathsAndWebAddresses)
{
    EXPECT_TRUE(passes(source()));
    SourceRecord record = source(ImportOrigin::note);
    record.fileBookmark = QByteArray("anything");
    record.isManuallyRegistered = true;
    EXPECT_TRUE(passes(record));

    record.filePath = QStringLiteral("relative/file.txt");
    EXPECT_FALSE(passes(record));
    record.filePath = QString();
    EXPECT_FALSE(passes(record));
    record.filePath = QStringLiteral("/absolute/file.txt");
    EXPECT_TRUE(passes(record));

    const auto withURL = [](const char* text) {
        SourceRecord web;
        web.webURL = QUrl(QString::fromUtf8(text), QUrl::StrictMode);
        return web;
    };
    EXPECT_TRUE(passes(withURL("https://example.org/x")));
    EXPECT_TRUE(passes(withURL("http://example.org")));
    EXPECT_TRUE(passes(withURL("HTTPS://EXAMPLE.ORG/Path")));
    EXPECT_FALSE(passes(withURL("ftp://example.org/file")));
    EXPECT_FALSE(passes(withURL("https:///only/a/path")));
    EXPECT_FALSE(passes(withURL("https:relative")));
    EXPECT_FALSE(passes(withURL("//example.org/no-scheme")));
    EXPECT_FALSE(passes(withURL("example.org")));
    EXPECT_FALSE(passes(withURL("file:///etc/passwd")));
}

TEST_F(SourceFormatterTest, ValidatesLengthsInUserPerceivedCharacters)
{
    const QString accented = QStringLiteral("e\u0301"); // one character, two code units
    SourceRecord titled = source();
    titled.manualTitle = accented.repeated(1024);
    EXPECT_TRUE(passes(titled));
    titled.manualTitle = accented.repeated(1025);
    EXPECT_FALSE(passes(titled));
    titled.manualTitle = QString();
    EXPECT_TRUE(passes(titled));

    SourceRecord printed = source();
    printed.locator = PageLocator::printedPage(accented.repeated(128));
    EXPECT_TRUE(passes(printed));
    printed.locator = PageLocator::printedPage(QStringLiteral("x").repeated(129));
    EXPECT_FALSE(passes(printed));
    printed.locator = PageLocator::printedPage(QStringLiteral("   "));
    EXPECT_FALSE(passes(printed));
    printed.locator = PageLocator::printedPage(QStringLiteral("\u2028\t\u00a0\r\n"));
    EXPECT_FALSE(passes(printed));
    printed.locator = PageLocator::printedPage(QString());
    EXPECT_FALSE(passes(printed));
    // Spaces count towards the limit before trimming.
    printed.locator = PageLocator::printedPage(QStringLiteral(" ").repeated(120) + QStringLiteral("x").repeated(9));
    EXPECT_FALSE(passes(printed));
    printed.locator = PageLocator::printedPage(QStringLiteral(" xii "));
    EXPECT_TRUE(passes(printed));
}

TEST_F(SourceFormatterTest, ValidatesPageIndexes)
{
    SourceRecord page = source();
    for (const std::int64_t good : {std::int64_t{0}, std::int64_t{41}, largestIndex - 1}) {
        page.locator = PageLocator::pdfIndex(good);
        EXPECT_TRUE(passes(page)) << good;
    }
    for (const std::int64_t bad : {std::int64_t{-1}, std::numeric_limits<std::int64_t>::min(), largestIndex}) {
        page.locator = PageLocator::pdfIndex(bad);
        EXPECT_FALSE(passes(page)) << bad;
    }
}
