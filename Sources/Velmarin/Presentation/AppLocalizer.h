#pragma once

#include "TolvexCore/Texts/Localizer.h"

namespace tolvex {

// The application's one localizer, through which every user-visible text of
// the application passes. Until start-up replaces it, it serves the user's
// first preferred language ("en" when there is none) over the core bundle.
Localizer appLocalizer();

// Called once by start-up, before any window exists, with a localizer over
// the resource bundle it has just checked.
void replaceAppLocalizer(Localizer localizer);

} // namespace tolvex
