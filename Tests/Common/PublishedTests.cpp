#include "Velmarin/Common/Published.h"

#include <QString>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace tolvex {
namespace {

TEST(PublishedTests, DeliversCurrentValueThenEveryAssignmentEvenEqual)
{
    Published<int> value(7);
    value = 8;
    std::vector<int> seen;
    Subscription subscription = value.subscribe([&](const int& v) { seen.push_back(v); });
    value = 8;
    value = 8;
    value.modify([](int& v) { v += 1; });
    EXPECT_EQ(seen, (std::vector<int>{8, 8, 8, 9}));

    subscription.reset();
    value = 10;
    EXPECT_EQ(seen.size(), 4u);
}

TEST(PublishedTests, ObserversSeeTheStoredValueAndMayReenter)
{
    Published<QString> text;
    std::vector<QString> readBack;
    std::optional<Subscription> second;
    Subscription first = text.subscribe([&](const QString& v) {
        readBack.push_back(text.value() + QLatin1Char('|') + v);
        // An observer that ends another one mid-round: the other is not called.
        if (v == QLatin1String("stop"))
            second.reset();
    });
    int secondCalls = 0;
    second.emplace(text.subscribe([&](const QString&) { ++secondCalls; }));
    text = QStringLiteral("a");
    text = QStringLiteral("stop");
    text = QStringLiteral("b");
    EXPECT_EQ(readBack, (std::vector<QString>{QStringLiteral("|"), QStringLiteral("a|a"),
                            QStringLiteral("stop|stop"), QStringLiteral("b|b")}));
    EXPECT_EQ(secondCalls, 2); // its subscription call and "a"

    // An observer that assigns during delivery: everyone ends on the last value.
    Published<int> counter(0);
    std::vector<int> lastSeen(2, -1);
    Subscription bump = counter.subscribe([&](const int& v) {
        lastSeen[0] = v;
        if (v == 1)
            counter = 2;
    });
    Subscription watch = counter.subscribe([&](const int& v) { lastSeen[1] = v; });
    counter = 1;
    EXPECT_EQ(counter.value(), 2);
    EXPECT_EQ(lastSeen, (std::vector<int>{2, 2}));
}

} // namespace
} // namespace tolvex
