#include "Velmarin/Platform/FullScreen.h"

#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

QVariantMap display(const QVariant& identifier, const QVariant& type)
{
    return {{QStringLiteral("Display Identifier"), identifier},
        {QStringLiteral("Current Space"), QVariantMap{{QStringLiteral("type"), type}}}};
}

TEST(FullScreen, ParseReadsOnlyWellFormedAnswers)
{
    using State = FullScreen::State;
    const QString a = QStringLiteral("DP-1");
    const QString b = QStringLiteral("HDMI-1");
    struct Case {
        const char* name;
        QVariant answer;
        std::optional<QString> identifier;
        State expected;
    };
    const std::vector<Case> cases = {
        {"no answer", QVariant(), a, State::unknown},
        {"not a list", QVariant(display(a, 0)), a, State::unknown},
        {"empty list", QVariantList{}, a, State::unknown},
        {"one display, desktop", QVariantList{display(a, 0)}, a, State::desktop},
        {"one display used whatever the name", QVariantList{display(a, 4)}, b, State::fullScreen},
        {"one display, no name", QVariantList{display(a, 4.0)}, std::nullopt, State::fullScreen},
        {"two displays, matched", QVariantList{display(a, 0), display(b, 4)}, b, State::fullScreen},
        {"two displays, no name", QVariantList{display(a, 0), display(b, 4)}, std::nullopt, State::unknown},
        {"two displays, none matches", QVariantList{display(a, 0), display(b, 4)}, QStringLiteral("X"), State::unknown},
        {"two displays, both match", QVariantList{display(a, 0), display(a, 4)}, a, State::unknown},
        {"identifier of another type", QVariantList{display(1, 0), display(b, 4)}, QStringLiteral("1"), State::unknown},
        {"boolean type", QVariantList{display(a, false)}, a, State::unknown},
        {"string type", QVariantList{display(a, QStringLiteral("0"))}, a, State::unknown},
        {"other space type", QVariantList{display(a, 2)}, a, State::unknown},
        {"entry that is no map", QVariantList{display(a, 0), QStringLiteral("x")}, a, State::unknown},
        {"space that is no map", QVariantList{QVariantMap{{QStringLiteral("Current Space"), 0}}}, a, State::unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FullScreen::parse(c.answer, c.identifier), c.expected);
    }
}

TEST(FullScreen, WithoutX11EveryScreenIsUnknown)
{
    EXPECT_EQ(FullScreen::state(QStringLiteral("screen")), FullScreen::State::unknown);
}

} // namespace
} // namespace tolvex
