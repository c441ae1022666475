#include "api/module_state.h"

namespace morvantis {

CanSettings canSettings;
DriverConnection driverConnection;

} // namespace morvantis
