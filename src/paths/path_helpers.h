// String rules for Windows-form paths, shared by every subsystem that joins,
// splits or compares paths.
#pragma once

#include <string>
#include <string_view>

namespace paths {

// folder + name, with one backslash between unless the folder already ends with one.
std::u16string Join(std::u16string_view folder, std::u16string_view name);

// The text before / after the last backslash (the whole text has no folder
// part and is all name when it holds no backslash).
std::u16string FolderPart(std::u16string_view path);
std::u16string NamePart(std::u16string_view path);

// Index of `what` in `text` at or after `start`, ignoring case; -1 if absent.
long FindNoCase(std::u16string_view text, std::u16string_view what, size_t start = 0);

// True when `path` lies below `folder` (a backslash is appended to the folder
// unless it ends with one), ignoring case.
bool IsBelow(std::u16string_view folder, std::u16string_view path);

}  // namespace paths
