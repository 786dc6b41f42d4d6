#pragma once

#include "Velmarin/Presentation/PrivacyCover.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

namespace tolvex {

// The rule for every modal alert, open or save panel of the program: create
// one of these just before running the modal and keep it until the modal
// call returns. It records the privacy epoch and registers the window with
// the cover (the line), so that a privacy cover can end it; it unregisters on
// destruction. When the call returns, a true cancelled() means the answer
// must be treated as "cancelled", whatever the user clicked.
//
//     ModalRegistration registration(line, &dialog);
//     const int answer = dialog.exec();
//     if (registration.cancelled()) return;
//
// A QFileDialog registered this way must use QFileDialog::DontUseNativeDialog,
// or the cover could not close it.
class ModalRegistration {
public:
    ModalRegistration(PrivacyCover& line, QWidget* window) : line_(&line), window_(window), epoch_(line.privacyEpoch())
    {
        line.registerModal(window);
    }
    ~ModalRegistration()
    {
        if (line_)
            line_->unregisterModal(window_);
    }
    ModalRegistration(const ModalRegistration&) = delete;
    ModalRegistration& operator=(const ModalRegistration&) = delete;

    std::uint64_t epoch() const { return epoch_; }
    // The line is gone, covered now, or was covered since registration.
    bool cancelled() const { return !line_ || line_->isCovered() || line_->privacyEpoch() != epoch_; }

private:
    QPointer<PrivacyCover> line_;
    const QWidget* window_;
    std::uint64_t epoch_;
};

// Runs an open or save panel under the rule above: nothing while the line is
// covered, and no answer when a cover came while it ran. Without a line the
// panel simply runs. `run` is taken by value because the modal loop may
// delete whoever asked.
inline std::optional<QString> runRegisteredPanel(
    PrivacyCover* line, QWidget& panel, const std::function<std::optional<QString>()> run)
{
    if (!line)
        return run();
    if (line->isCovered())
        return std::nullopt;
    ModalRegistration registration(*line, &panel);
    std::optional<QString> chosen = run();
    if (registration.cancelled())
        return std::nullopt;
    return chosen;
}

} // namespace tolvex
