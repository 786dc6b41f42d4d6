#pragma once

#include "TolvexCore/Texts/Localizer.h"

namespace tolvex {

// The application's one localizer, through which every user-visible text of
// the application passes. Until start-up replaces it, it serves the user's
// first preferred language ("en" when there is none) over the core bundle.
Localizer appLocalizer();

// Called once by start-up, before any window exists, with a localizer over
// the resource bundle it has just checked. Installs Qt's translations too.
void replaceAppLocalizer(Localizer localizer);

// Makes Qt's own texts (the file choosers, the standard buttons, the input
// dialog) speak the localizer's language, from Qt's translations
// ("qtbase_<language>.qm"); English needs none. Call again when a new
// application object has been made: a translator belongs to one.
void installQtTranslations();

} // namespace tolvex
