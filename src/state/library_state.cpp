#include "state/library_state.h"

namespace morvantis {

LibraryState libraryState;

} // namespace morvantis
