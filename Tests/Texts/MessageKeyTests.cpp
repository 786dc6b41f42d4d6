#include "TolvexCore/Texts/MessageKey.h"

#include <QSet>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace tolvex;

namespace {

struct NamedKey {
    MessageKey key;
    std::string caseName;
    std::string raw;
};

std::vector<NamedKey> namedKeys()
{
    return {
#define TOLVEX_TEST_NAMED_KEY(name, raw) {MessageKey::name, #name, raw},
        TOLVEX_MESSAGE_KEYS(TOLVEX_TEST_NAMED_KEY)
#undef TOLVEX_TEST_NAMED_KEY
    };
}

// Area + rest of the key with its first letter upper-cased; bare words as they are.
std::string ruleName(const std::string& raw)
{
    const auto dot = raw.find('.');
    if (dot == std::string::npos)
        return raw;
    std::string rest = raw.substr(dot + 1);
    rest[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    return raw.substr(0, dot) + rest;
}

} // namespace

TEST(MessageKeyTest, ListsAllCasesInDeclarationOrder)
{
    const auto& all = allMessageKeys();
    ASSERT_EQ(all.size(), 251u);
    EXPECT_EQ(messageKeyRawValue(all.front()), "privacyHide");
    EXPECT_EQ(messageKeyRawValue(all.back()), "feedback.ambiguousName");
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(static_cast<std::size_t>(all[i]), i);

    // Spot checks across the list, including cases other parts rely on by name.
    EXPECT_EQ(messageKeyRawValue(MessageKey::shortcutActive), "shortcut.active");
    EXPECT_EQ(static_cast<int>(MessageKey::shortcutActive), 5);
    EXPECT_EQ(messageKeyRawValue(MessageKey::imagePixelLimit), "image.pixelLimit");
    EXPECT_EQ(messageKeyRawValue(MessageKey::imageInvalid), "image.invalid");
    EXPECT_EQ(static_cast<int>(MessageKey::contentHidden), 119);
    EXPECT_EQ(static_cast<int>(MessageKey::quit), 179);
    EXPECT_EQ(messageKeyString(MessageKey::sourcePDFPage), QStringLiteral("source.pdfPage"));
}

TEST(MessageKeyTest, RawValuesAreUniqueAndShapedAsKeys)
{
    std::set<std::string_view> seen;
    int bare = 0;
    for (const MessageKey key : allMessageKeys()) {
        const std::string_view raw = messageKeyRawValue(key);
        EXPECT_TRUE(seen.insert(raw).second) << raw;
        const auto dots = std::count(raw.begin(), raw.end(), '.');
        if (dots == 0) {
            ++bare;
            EXPECT_LT(static_cast<int>(key), 5) << raw;
        } else {
            EXPECT_EQ(dots, 1) << raw;
            EXPECT_NE(raw.front(), '.');
            EXPECT_NE(raw.back(), '.');
        }
    }
    EXPECT_EQ(bare, 5);
}

TEST(MessageKeyTest, CaseNamesFollowTheRuleExceptForTheNamedOnes)
{
    const std::set<std::string> exceptions{"takenDownMaterials", "takenDownHelp", "takenDownEmpty", "rehangMaterial",
        "undoTakeDown", "takeDownUndoFeedback", "materialPDF", "redRopeEntryHint", "noteSaveFailed", "noteSavingQuit",
        "sourcePDFPage", "sourceURL", "pageUnknown", "physicalPage", "printedPage", "saveSource", "chooseSourceFile",
        "originalText", "editedText", "editText", "textEditorTitle", "textEditorHelp", "textEditingTitle",
        "importFiles", "contentHidden", "openCopy", "copyWithSource", "detailQuitPending", "saveDetails",
        "detailUnsavedTitle", "detailUnsavedMessage", "detailDiscard", "detailContinue", "saveTitle", "copy", "open",
        "markup", "showInFinder", "takeDown", "moveToTrash", "copied", "hideLine", "showLine", "takeDownAll",
        "emptyHint", "sounds", "pasteInput", "intakeSettings", "dropHint", "dropReady", "manualInputTitle",
        "manualInputHelp", "automaticInputTitle", "automaticInputEnabled", "automaticInputHelp", "pauseClipboard",
        "resumeClipboard", "retryClipboard", "discardClipboard", "discardClipboardTitle", "discardClipboardMessage",
        "keepClipboard", "quitDiscardingClipboard", "quit", "invalidArguments", "missingResources", "revealWorkspace",
        "actionFailed", "chooseCaptureFolder", "pauseCapture", "resumeCapture", "retryCapture", "saveCopy", "cancel",
        "reviewPendingTitle", "reviewPendingMessage", "hangReviewed", "retainedDraft", "resumeDraft", "retryMarkup",
        "retryLater"};
    ASSERT_EQ(exceptions.size(), 81u);

    const auto named = namedKeys();
    ASSERT_EQ(named.size(), 251u);
    std::set<std::string> caseNames;
    for (std::size_t i = 0; i < named.size(); ++i) {
        const auto& entry = named[i];
        EXPECT_EQ(static_cast<std::size_t>(entry.key), i) << entry.caseName;
        EXPECT_EQ(messageKeyRawValue(entry.key), entry.raw);
        EXPECT_TRUE(caseNames.insert(entry.caseName).second) << entry.caseName;
        if (exceptions.count(entry.caseName))
            EXPECT_NE(entry.caseName, ruleName(entry.raw)) << entry.raw;
        else
            EXPECT_EQ(entry.caseName, ruleName(entry.raw)) << entry.raw;
    }
}

TEST(MessageKeyTest, MakesACaseOnlyFromItsExactKey)
{
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("privacyHide")), MessageKey::privacyHide);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("privacy.hide")), std::nullopt);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("privacy.hidden")), MessageKey::contentHidden);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("markup.retryLater")), MessageKey::retryLater);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("Privacy.Hidden")), std::nullopt);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("privacy.hidden ")), std::nullopt);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("")), std::nullopt);
    EXPECT_EQ(messageKeyFromRawValue(std::string_view("contentHidden")), std::nullopt);

    // The text form gives the same answers, also for non-ASCII look-alikes.
    EXPECT_EQ(messageKeyFromRawValue(QStringView(u"privacy.hidden")), MessageKey::contentHidden);
    EXPECT_EQ(messageKeyFromRawValue(QStringView(u"privacy.hide")), std::nullopt);
    EXPECT_EQ(messageKeyFromRawValue(QStringView(u"privacy\u2024hidden")), std::nullopt);
    for (const MessageKey key : allMessageKeys())
        EXPECT_EQ(messageKeyFromRawValue(QStringView(messageKeyString(key))), key);
}
