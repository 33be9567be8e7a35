#pragma once
// The running program's own file.

#include <optional>
#include <string>

namespace host {

// The running program's executable as the kernel names it (a real path, not
// a machine path). Neither the caller's environment nor its arguments can
// redirect it. nullopt when it cannot be read.
std::optional<std::string> executablePath();

}  // namespace host
