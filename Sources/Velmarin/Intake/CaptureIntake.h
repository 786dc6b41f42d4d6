#pragma once

#include "Velmarin/Intake/CaptureCandidate.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QUrl>

namespace tolvex {

// Decides when a file in the watched folder is a finished image. A file is
// never ready at its first sighting, however old it is; it becomes ready at
// the first probe that finds it non-empty, decodable and unchanged for at
// least `stableSeconds`, and fails once when that has not happened
// `failureSeconds` after it was first seen. A whole image over the pixel
// budget is refused as too large at the probe that would have found it
// ready, and then left alone as a failed one is. A failed or refused file
// that changes is observed afresh. A plain value: time comes in with every
// probe.
class CaptureIntake {
public:
    static constexpr double stableSeconds = 0.2;
    static constexpr double failureSeconds = 5.0;

    CaptureIntake() = default;
    // `history`: files never to be delivered (those present at start and
    // those already imported).
    CaptureIntake(const QSet<QUrl>& history, bool onlyTagged);

    CaptureDecision observe(const CaptureCandidate& candidate, const Date& now);
    // The coordinator tried to import the file: forget it, and on success
    // never deliver it again.
    void acknowledge(const QUrl& url, bool success);
    void forgetMissing(const QUrl& url);

    // Files neither delivered nor failed.
    QList<QUrl> waitingURLs() const;

    bool onlyTagged() const { return onlyTagged_; }
    const QSet<QUrl>& history() const { return history_; }

private:
    struct Entry {
        CaptureCandidate candidate;
        Date firstSeen;
        Date stableSince;
        bool delivered = false;
        // Failed, or refused as too large.
        bool failed = false;
    };

    QSet<QUrl> history_;
    bool onlyTagged_ = false;
    QHash<QUrl, Entry> entries_;
};

} // namespace tolvex
