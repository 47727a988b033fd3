#include "ProgramDir.h"

#include <system_error>

namespace kds {

std::filesystem::path ProgramDirectory()
{
    std::error_code Ec;
    const std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Ec);
    if (Ec || Exe.empty())
        return std::filesystem::current_path(Ec);
    return Exe.parent_path();
}

} // namespace kds
