#pragma once

#include <filesystem>

namespace kds {

// The folder of the running program's own file (resolved through
// /proc/self/exe), where the order folders KDS/Before and KDS/AFTER live.
// Falls back to the current folder when the link cannot be read. Any thread.
std::filesystem::path ProgramDirectory();

} // namespace kds
