// What the library tells about itself and its settings.
#pragma once

#include "morvantis.h"

namespace morvantis {

void FillDllInfo(CanDllInfo& info);
void FillStatus(CanStatusRecord& status);

} // namespace morvantis
