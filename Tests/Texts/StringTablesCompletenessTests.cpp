#include "TolvexCore/Texts/Localizer.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "TolvexCore/Texts/ResourceBundle.h"
#include "TolvexCore/Texts/StringTable.h"

#include <QSet>

#include <gtest/gtest.h>

#include <map>

using namespace tolvex;

namespace {

const QStringList languages{QStringLiteral("en"), QStringLiteral("es"), QStringLiteral("zh-Hans")};

// Parses the table directly, so that a syntax error shows with its line.
StringTable loadTable(const QString& language)
{
    const auto core = ResourceBundle::core();
    if (!core) {
        ADD_FAILURE() << "core bundle not found";
        return {};
    }
    const auto folder = core->languageBundle(language);
    if (!folder) {
        ADD_FAILURE() << "no folder for " << language.toStdString();
        return {};
    }
    try {
        return StringTable::load(folder->tablePath());
    } catch (const StringTable::ParseError& error) {
        ADD_FAILURE() << language.toStdString() << ": " << error.what() << " at line " << error.line();
    } catch (const std::exception& error) {
        ADD_FAILURE() << language.toStdString() << ": " << error.what();
    }
    return {};
}

} // namespace

TEST(StringTablesTest, CoreBundleHoldsATextForEveryKeyInEveryLanguage)
{
    ASSERT_TRUE(ResourceBundle::core()) << "looked beside " << ResourceBundle::executableDirectory().toStdString();
    for (const QString& language : languages) {
        const StringTable table = loadTable(language);
        SCOPED_TRACE(language.toStdString());
        for (const MessageKey key : allMessageKeys()) {
            const QString raw = messageKeyString(key);
            const auto text = table.value(raw);
            ASSERT_TRUE(text.has_value()) << raw.toStdString();
            EXPECT_FALSE(text->trimmed().isEmpty()) << raw.toStdString();
            EXPECT_NE(*text, raw) << raw.toStdString();
            EXPECT_EQ(*text, text->trimmed()) << raw.toStdString();
        }
        // Every entry is a message key: a misspelt key would otherwise hide
        // behind the English fallback.
        for (auto it = table.entries().cbegin(); it != table.entries().cend(); ++it)
            EXPECT_TRUE(messageKeyFromRawValue(QStringView(it.key()))) << "unknown key " << it.key().toStdString();
        EXPECT_EQ(table.size(), static_cast<qsizetype>(messageKeyCount));
    }
}

TEST(StringTablesTest, TranslationsHaveTheEnglishPlaceholders)
{
    std::map<QString, StringTable> tables;
    for (const QString& language : languages)
        tables[language] = loadTable(language);
    const StringTable& english = tables[QStringLiteral("en")];

    for (const MessageKey key : allMessageKeys()) {
        const QString raw = messageKeyString(key);
        const QString englishText = english.value(raw).value_or(QString());
        for (const auto& placeholder : MessageFormat::placeholders(englishText))
            EXPECT_NE(placeholder.kind, MessageFormat::Kind::unknown) << raw.toStdString();
        const auto expected = MessageFormat::placeholderSignature(englishText);
        for (const QString& language : languages) {
            const QString text = tables[language].value(raw).value_or(QString());
            EXPECT_EQ(MessageFormat::placeholderSignature(text), expected)
                << language.toStdString() << " " << raw.toStdString() << ": " << text.toStdString();
        }
    }
}

TEST(StringTablesTest, PlainReplacementTextsHoldTheirLiteralPlaceholders)
{
    // Filled by replacing the literal placeholder, not by the formatter: a
    // positional form would stay visible. Each entry: key, the placeholders it
    // must hold, in the order they appear in English.
    const std::map<MessageKey, QStringList> literal{
        {MessageKey::sourcePDFPage, {QStringLiteral("%d")}},
        {MessageKey::sourcePrintedPage, {QStringLiteral("%@")}},
        {MessageKey::dropReady, {QStringLiteral("%d")}},
        {MessageKey::materialMetadata, {QStringLiteral("%@"), QStringLiteral("%d")}},
    };
    for (const QString& language : languages) {
        const StringTable table = loadTable(language);
        for (const auto& [key, expected] : literal) {
            const QString text = table.value(messageKeyString(key)).value_or(QString());
            QStringList written;
            for (const auto& placeholder : MessageFormat::placeholders(text))
                written.append(placeholder.written);
            written.sort();
            QStringList sortedExpected = expected;
            sortedExpected.sort();
            EXPECT_EQ(written, sortedExpected) << language.toStdString() << ": " << text.toStdString();
        }
    }

    // The callers that use the formatter get sensible results in every language.
    for (const QString& language : languages) {
        const Localizer localizer(language);
        const QString position = MessageFormat::format(localizer.string(MessageKey::shelfPosition), {2, 9});
        EXPECT_TRUE(position.contains(QLatin1Char('2')) && position.contains(QLatin1Char('9'))) << position.toStdString();
        EXPECT_FALSE(position.contains(QLatin1Char('%'))) << position.toStdString();
        const QString summary = MessageFormat::format(localizer.string(MessageKey::cleanupSummary),
            {11, 22, 33, QStringLiteral("4.4 MB")});
        for (const char* part : {"11", "22", "33", "4.4 MB"})
            EXPECT_TRUE(summary.contains(QLatin1String(part))) << summary.toStdString();
        EXPECT_FALSE(summary.contains(QLatin1Char('%'))) << summary.toStdString();
    }
}

TEST(StringTablesTest, LocalizerReadsEachLanguageFromTheCoreBundle)
{
    const Localizer english(QStringLiteral("en-US"));
    const Localizer spanish(QStringLiteral("es-MX"));
    const Localizer chinese(QStringLiteral("zh-Hant-TW"));
    const Localizer french(QStringLiteral("fr-FR"));
    QSet<QString> texts;
    for (const Localizer* localizer : {&english, &spanish, &chinese})
        texts.insert(localizer->string(MessageKey::imageInvalid));
    EXPECT_EQ(texts.size(), 3);
    EXPECT_EQ(french.string(MessageKey::imageInvalid), english.string(MessageKey::imageInvalid));
    EXPECT_NE(english.string(MessageKey::imagePixelLimit), QStringLiteral("image.pixelLimit"));
}
