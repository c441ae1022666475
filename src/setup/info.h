// What the library tells about itself and its settings.
#pragma once

#include "morvantis.h"

namespace morvantis {

void fillDllInfo(CanDllInfo& info);
void fillStatus(CanStatusRecord& status);

} // namespace morvantis
