#include "Velmarin/Shell/AppLocalizer.h"

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
