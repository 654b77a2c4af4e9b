#pragma once
// Where the program's resources (the page in Web/, the local model installer in Setup/) are:
// $TIDEWICK_RESOURCES when set; else a "resources" folder beside the executable, where an installed
// copy keeps them; else the source tree this build was made from. Any thread.
#include <string>

namespace tw::app {

std::string ResourceDirectory();

}  // namespace tw::app
