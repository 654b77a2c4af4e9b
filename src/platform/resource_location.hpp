#pragma once
// Where the program's read-only resources (the page in Web/, the set-up script in Setup/, icons) are.
// An installed program keeps them in <prefix>/share/tidewick beside <prefix>/bin; a program run from
// its build folder uses the source tree's resources/, reached by a path relative to the executable's
// folder that the build worked out. No absolute build path is built in, so the same binary works
// wherever the build folder or the installation is moved.
#include <string>

namespace tw::platform {

// $TIDEWICK_RESOURCES when set, else the folder found beside this executable (/proc/self/exe).
// Safe from any thread.
std::string ResourceDirectory();

// The lookup itself, for an executable in `executableFolder`: <folder>/../share/tidewick when it is a
// folder, else <folder>/<buildTreeResources> when that is one, else the installed place (so a
// missing resource is reported where a package would have put it).
std::string ResourceDirectoryBeside(const std::string& executableFolder, const std::string& buildTreeResources);

}  // namespace tw::platform
