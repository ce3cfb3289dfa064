// Making folders, as CreateDirectory does one at a time.
#pragma once

#include <string>

namespace platform {

// Makes `folder` and any of its parents that are missing, readable by all.
// True when it is a folder afterwards, whoever made it; false when a part of
// the path is a file or cannot be made.
bool MakeFolders(const std::string& folder);

}  // namespace platform
