#include "Velmarin/Presentation/AppLocalizer.h"

namespace tolvex {

Localizer appLocalizer()
{
    return Localizer::shared();
}

void replaceAppLocalizer(Localizer localizer)
{
    Localizer::setShared(std::move(localizer));
}

} // namespace tolvex
