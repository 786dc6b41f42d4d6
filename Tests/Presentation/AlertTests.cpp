#include "Velmarin/Presentation/Alert.h"

#include <QAbstractButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// Clicks the button at `index` once the alert's loop runs; -1 ends the alert
// from outside instead, as a privacy cover does.
int answerAfterRun(Alert& alert, int index)
{
    QTimer::singleShot(0, [&alert, index] {
        QMessageBox* box = alert.window();
        if (index < 0) {
            box->done(0);
            return;
        }
        const QList<QAbstractButton*> buttons = box->buttons();
        for (QAbstractButton* button : buttons) {
            if (button->text() == QStringLiteral("b%1").arg(index))
                button->click();
        }
    });
    return alert.run();
}

TEST(AlertTests, AnswerIsThousandPlusButtonIndexOrZeroWhenEndedFromOutside)
{
    const struct {
        int clicked;
        int expected;
    } cases[] = {{0, 1000}, {1, 1001}, {2, 1002}, {-1, 0}};
    for (const auto& c : cases) {
        Alert alert;
        alert.setTitle(QStringLiteral("title"));
        for (int i = 0; i < 3; ++i)
            alert.addButton(QStringLiteral("b%1").arg(i));
        EXPECT_EQ(answerAfterRun(alert, c.clicked), c.expected) << c.clicked;
    }
}

} // namespace
} // namespace tolvex
