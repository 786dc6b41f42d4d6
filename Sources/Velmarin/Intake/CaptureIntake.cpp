#include "Velmarin/Intake/CaptureIntake.h"

namespace tolvex {

CaptureIntake::CaptureIntake(const QSet<QUrl>& history, bool onlyTagged) : onlyTagged_(onlyTagged)
{
    history_.reserve(history.size());
    for (const QUrl& url : history)
        history_.insert(standardizedFileURL(url));
}

CaptureDecision CaptureIntake::observe(const CaptureCandidate& probed, const Date& now)
{
    // Another spelling of the same path is no change of the file.
    CaptureCandidate candidate = probed;
    candidate.url = standardizedFileURL(probed.url);
    const QUrl& key = candidate.url;
    if (!key.isLocalFile() || candidate.byteCount < 0 || history_.contains(key))
        return CaptureDecision::ignore();
    if (onlyTagged_ && !candidate.systemScreenshotMarked)
        return CaptureDecision::ignore();

    const auto found = entries_.find(key);
    if (found == entries_.end()) {
        entries_.insert(key, Entry{candidate, now, now, false, false});
        return CaptureDecision::wait();
    }
    Entry& entry = found.value();
    if (entry.delivered)
        return CaptureDecision::ignore();
    if (entry.candidate == candidate) {
        if (entry.failed)
            return CaptureDecision::ignore();
    } else {
        if (entry.failed)
            entry.firstSeen = now;
        entry.candidate = candidate;
        entry.stableSince = now;
        entry.failed = false;
    }

    const double stableFor = now.secondsSinceReferenceDate - entry.stableSince.secondsSinceReferenceDate;
    const double seenFor = now.secondsSinceReferenceDate - entry.firstSeen.secondsSinceReferenceDate;
    if (entry.candidate.byteCount != 0 && entry.candidate.decodable && stableFor >= stableSeconds) {
        entry.delivered = true;
        return CaptureDecision::ready(key);
    }
    // Finished, only too large: said at once, not as a file that did not
    // finish, and like a failure left alone until it changes.
    if (entry.candidate.byteCount != 0 && entry.candidate.overBudget && stableFor >= stableSeconds) {
        entry.failed = true;
        return CaptureDecision::tooLarge();
    }
    if (seenFor >= failureSeconds) {
        entry.failed = true;
        return CaptureDecision::failed();
    }
    return CaptureDecision::wait();
}

void CaptureIntake::acknowledge(const QUrl& url, bool success)
{
    const QUrl key = standardizedFileURL(url);
    entries_.remove(key);
    if (success)
        history_.insert(key);
}

void CaptureIntake::forgetMissing(const QUrl& url)
{
    entries_.remove(standardizedFileURL(url));
}

QList<QUrl> CaptureIntake::waitingURLs() const
{
    QList<QUrl> waiting;
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
        if (!it->delivered && !it->failed)
            waiting.append(it.key());
    }
    return waiting;
}

} // namespace tolvex
