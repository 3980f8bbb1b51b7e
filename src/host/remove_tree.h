// Removing what the program restored into a folder of its own, by
// descriptor: a link met on the way is removed, never followed, and no mode
// is changed to get something out of the way.
#pragma once

#include <string>

namespace host {

// Removes `name` (a file, a link or a whole folder) from `folder`. True when
// it is gone or was never there.
bool RemoveTreeAt(const std::string& folder, const std::string& name);

}  // namespace host
