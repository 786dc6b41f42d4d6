#pragma once

#include <cstdint>

class QWidget;

namespace tolvex {

// What the owner of a modal panel reads of the shelf's privacy cover: the
// epoch that rises each time the shelf becomes covered, whether it is
// covered now, and the registry of running modals that a cover ends.
// The shelf's line implements it.
class ModalPrivacy {
public:
    virtual ~ModalPrivacy() = default;

    virtual std::uint64_t privacyEpoch() const = 0;
    virtual bool isCovered() const = 0;
    virtual void registerModal(QWidget* modal) = 0;
    virtual void unregisterModal(QWidget* modal) = 0;
};

} // namespace tolvex
