#pragma once

namespace tolvex {

// The settings window's observable state. This shell's version has none to
// bring up to date yet.
class IntakeSettingsModel {
public:
    virtual ~IntakeSettingsModel() = default;
    virtual void refresh() {}
};

} // namespace tolvex
