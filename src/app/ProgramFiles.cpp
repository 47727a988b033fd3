#include "app/ProgramFiles.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/AsciiText.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace kds {

namespace {

int RenameNoReplace(const char* From, const char* To) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return renameat2(AT_FDCWD, From, AT_FDCWD, To, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, From, AT_FDCWD, To, RENAME_NOREPLACE));
#else
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

std::filesystem::path ProgramDirectory() {
    std::error_code Ec;
    const std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Ec);
    if (Ec || Exe.empty())
        throw std::runtime_error("Cannot find the program's own file");
    return Exe.parent_path();
}

bool MatchesOrderFilePattern(std::string_view Name) {
    return EndsWithAscii(Name, std::string_view(".xml"));
}

bool MoveFileByLink(const std::string& From, const std::string& To) {
    // link() fails when To exists, so nothing is ever replaced.
    if (link(From.c_str(), To.c_str()) != 0)
        return false;
    if (unlink(From.c_str()) != 0) {
        const int Saved = errno;
        unlink(To.c_str());
        errno = Saved;
        return false;
    }
    return true;
}

bool MoveFileNoReplace(const std::string& From, const std::string& To) {
    if (RenameNoReplace(From.c_str(), To.c_str()) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP)
        return MoveFileByLink(From, To);
    return false;
}

} // namespace kds
