#include "base/AsciiText.h"

namespace kds {

std::vector<std::string> SplitList(std::string_view Text, char Separator, bool TrimBlanks) {
    std::vector<std::string> Out;
    std::size_t Start = 0;
    while (Start <= Text.size()) {
        std::size_t End = Text.find(Separator, Start);
        if (End == std::string_view::npos)
            End = Text.size();
        std::size_t A = Start, B = End;
        if (TrimBlanks) {
            while (A < B && static_cast<unsigned char>(Text[A]) <= 32)
                ++A;
            while (B > A && static_cast<unsigned char>(Text[B - 1]) <= 32)
                --B;
        }
        if (B > A)
            Out.emplace_back(Text.substr(A, B - A));
        Start = End + 1;
    }
    return Out;
}

} // namespace kds
