#include "Velmarin/Presentation/AppLocalizer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// Qt's file choosers and standard buttons speak the language the localizer
// chose, and English again once it is chosen again.
TEST(AppLocalizerTest, QtsOwnTextsFollowTheLocalizersLanguage)
{
    struct Case {
        const char* language;
        const char* lookIn;
        const char* cancel;
    };
    const Case cases[]{
        {"es", "Ver en:", "Cancelar"},
        {"zh-Hans", "查找范围：", "取消"},
        {"en", "Look in:", "Cancel"},
    };
    const Localizer before = appLocalizer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        replaceAppLocalizer(Localizer(QString::fromLatin1(c.language)));
        EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QString::fromUtf8(c.lookIn));
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8(c.cancel));
    }
    replaceAppLocalizer(before);
}

} // namespace
} // namespace tolvex
