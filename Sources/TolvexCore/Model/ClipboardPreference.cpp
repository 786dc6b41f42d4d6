#include "TolvexCore/Model/ClipboardPreference.h"

#include "TolvexCore/Model/ImportRequest.h"

namespace tolvex {

bool ClipboardPreference::accepts(const ImportRequest& request) const
{
    if (request.asFile())
        return files;
    if (request.asImageData())
        return images;
    return text;
}

} // namespace tolvex
