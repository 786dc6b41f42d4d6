#include "Velmarin/Intake/CaptureIntake.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tolvex;

namespace {

using Case = CaptureDecision::Case;

QUrl file(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

CaptureCandidate candidate(const QString& path, std::int64_t size = 100, double modified = 1, bool decodable = true,
    bool marked = false)
{
    return CaptureCandidate{file(path), size, Date{modified}, decodable, marked};
}

// A whole image of more pixels than the budget allows.
CaptureCandidate overBudget(const QString& path, std::int64_t size = 100, double modified = 1)
{
    return CaptureCandidate{file(path), size, Date{modified}, false, false, true};
}

// One probe of a file at a time `at` seconds, and the decision expected.
struct Probe {
    double at;
    CaptureCandidate seen;
    Case expected;
};

struct Scenario {
    const char* name;
    std::vector<Probe> probes;
};

} // namespace

TEST(CaptureIntakeTest, StabilityRuleAtItsEdges)
{
    const QString shot = QStringLiteral("/shots/a.png");
    const std::vector<Scenario> scenarios{
        {"never ready at the first sighting, however old",
            {{0, candidate(shot), Case::wait}, {0.19, candidate(shot), Case::wait}, {0.2, candidate(shot), Case::ready},
                {0.4, candidate(shot), Case::ignore}}},
        {"a change restarts the 0.2 s",
            {{0, candidate(shot, 10), Case::wait}, {0.3, candidate(shot, 20, 2), Case::wait},
                {0.49, candidate(shot, 20, 2), Case::wait}, {0.5, candidate(shot, 20, 2), Case::ready}}},
        {"an empty file is never ready and fails once at 5 s",
            {{0, candidate(shot, 0), Case::wait}, {4.99, candidate(shot, 0), Case::wait},
                {5, candidate(shot, 0), Case::failed}, {6, candidate(shot, 0), Case::ignore}}},
        {"an undecodable file fails at 5 s counted from the first sighting, not the last change",
            {{0, candidate(shot, 10, 1, false), Case::wait}, {3, candidate(shot, 20, 2, false), Case::wait},
                {5, candidate(shot, 20, 2, false), Case::failed}}},
        {"a failed file that changes starts afresh with a new 5 s",
            {{0, candidate(shot, 0), Case::wait}, {5, candidate(shot, 0), Case::failed},
                {6, candidate(shot, 50, 3, false), Case::wait}, {10.9, candidate(shot, 50, 3, false), Case::wait},
                {11, candidate(shot, 50, 3, false), Case::failed}}},
        {"a failed file that completes becomes ready",
            {{0, candidate(shot, 0), Case::wait}, {5, candidate(shot, 0), Case::failed},
                {6, candidate(shot, 90, 4), Case::wait}, {6.25, candidate(shot, 90, 4), Case::ready}}},
        {"a whole image over the budget is refused once stable, then left alone until it changes",
            {{0, overBudget(shot), Case::wait}, {0.19, overBudget(shot), Case::wait},
                {0.2, overBudget(shot), Case::tooLarge}, {5, overBudget(shot), Case::ignore},
                {6, candidate(shot, 90, 4), Case::wait}, {6.2, candidate(shot, 90, 4), Case::ready}}},
        {"a file still changing when the 5 s are over fails, over the budget or not",
            {{0, overBudget(shot, 10), Case::wait}, {4.9, overBudget(shot, 20, 2), Case::wait},
                {5, overBudget(shot, 20, 2), Case::failed}}},
        {"ready wins over failed when both hold",
            {{0, candidate(shot, 10, 1, false), Case::wait}, {4.875, candidate(shot, 10, 2), Case::wait},
                {5.125, candidate(shot, 10, 2), Case::ready}}},
    };
    for (const Scenario& scenario : scenarios) {
        CaptureIntake intake({}, false);
        for (const Probe& probe : scenario.probes) {
            const CaptureDecision decision = intake.observe(probe.seen, Date{probe.at});
            EXPECT_EQ(decision.kind, probe.expected) << scenario.name << ", at " << probe.at;
            if (decision.kind == Case::ready) {
                EXPECT_EQ(decision.url, file(shot)) << scenario.name;
            }
        }
    }
}

TEST(CaptureIntakeTest, HistoryMarksAndAcknowledgementsDecideWhatIsEverDelivered)
{
    // The history is given in another spelling than the probes use.
    CaptureIntake intake({file(QStringLiteral("/shots/./old.png"))}, /*onlyTagged=*/true);
    EXPECT_EQ(intake.observe(candidate(QStringLiteral("/shots/old.png"), 5, 1, true, true), Date{0}).kind, Case::ignore);
    EXPECT_EQ(intake.observe(candidate(QStringLiteral("/shots/plain.png")), Date{0}).kind, Case::ignore)
        << "unmarked files do not count where only marked ones do";

    const QString marked = QStringLiteral("/shots/marked.png");
    EXPECT_EQ(intake.observe(candidate(marked, 5, 1, true, true), Date{0}).kind, Case::wait);
    EXPECT_EQ(intake.waitingURLs(), QList<QUrl>{file(marked)});
    const CaptureDecision ready = intake.observe(candidate(QStringLiteral("/shots//x/../marked.png"), 5, 1, true, true), Date{1});
    ASSERT_EQ(ready.kind, Case::ready);
    EXPECT_EQ(ready.url, file(marked)) << "the ready URL is the standardized one";
    EXPECT_TRUE(intake.waitingURLs().isEmpty());

    // Once imported, never again, whatever the file becomes.
    intake.acknowledge(file(marked), true);
    EXPECT_EQ(intake.observe(candidate(marked, 9, 7, true, true), Date{4}).kind, Case::ignore);
    EXPECT_TRUE(intake.history().contains(file(marked)));
}
