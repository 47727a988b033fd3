#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kds::test {

TTempDir::TTempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "kds-test-XXXXXX").string();
    if (mkdtemp(Pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    FPath = Pattern;
}

TTempDir::~TTempDir() {
    std::error_code Ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, Ec);
    std::filesystem::remove_all(FPath, Ec);
}

std::filesystem::path TTempDir::WriteFile(const std::string& Relative,
                                          const std::string& Content) const {
    const std::filesystem::path P = FPath / Relative;
    std::filesystem::create_directories(P.parent_path());
    std::ofstream Out(P, std::ios::binary);
    Out << Content;
    if (!Out)
        throw std::runtime_error("cannot write " + P.string());
    return P;
}

} // namespace kds::test
