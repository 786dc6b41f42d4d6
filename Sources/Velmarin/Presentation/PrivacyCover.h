#pragma once

#include <QObject>

#include <cstdint>

class QWidget;

namespace tolvex {

// The shelf's privacy cover as the modal windows and panels of the layers
// below the shelf see it: whether it is up, how often it came, and the
// modals it must end when it comes. The line is the one cover of the
// program; intake services and the modal rule hold it through this, so
// they never depend on the shelf. GUI thread only.
class PrivacyCover : public QObject {
public:
    // What privacy commands, and others that need no capacity, pass; the
    // store does not use it for them.
    static constexpr std::int64_t privacyCapacity = 12;

    using QObject::QObject;
    ~PrivacyCover() override = default;

    virtual bool isCovered() const = 0;
    // Rises each time the cover comes. Record it before awaiting anything
    // and drop the result when it moved or isCovered().
    virtual std::uint64_t privacyEpoch() const = 0;

    // Modal windows now running; the cover ends them. Use ModalRegistration.
    virtual void registerModal(QWidget* window) = 0;
    virtual void unregisterModal(const QWidget* window) = 0;
};

} // namespace tolvex
