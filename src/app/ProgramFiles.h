#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kds {

// File-system helpers of the order intake. Any thread; no shared state.

// The folder of the running program's own file (/proc/self/exe). Raises
// std::runtime_error when the system does not tell it.
std::filesystem::path ProgramDirectory();

// Whether a directory entry name matches the order file pattern "*.xml": the
// last four characters are ".xml" without regard to ASCII case. Hidden names
// (".xml", ".a.XML") match too.
bool MatchesOrderFilePattern(std::string_view Name);

// Moves From to To unless To exists; never replaces a file. Uses
// renameat2(RENAME_NOREPLACE); where the file system refuses the flag, makes a
// hard link at To and then removes From (undoing the link when that fails).
// False, with From untouched, when the move cannot be made.
bool MoveFileNoReplace(const std::string& From, const std::string& To);

// The link-then-unlink way on its own, for file systems without the flag.
bool MoveFileByLink(const std::string& From, const std::string& To);

} // namespace kds
