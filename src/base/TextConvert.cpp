#include "base/TextConvert.h"

#include <cstdint>

namespace kds {

std::u16string Utf8ToUtf16(std::string_view Text) {
    std::u16string Out;
    Out.reserve(Text.size());
    const size_t N = Text.size();
    size_t I = 0;
    while (I < N) {
        const auto B0 = static_cast<uint8_t>(Text[I]);
        if (B0 < 0x80) {
            Out += static_cast<char16_t>(B0);
            ++I;
            continue;
        }
        size_t Len = 0;
        uint32_t Cp = 0;
        uint32_t Min = 0;
        if ((B0 & 0xE0) == 0xC0) {
            Len = 2;
            Cp = B0 & 0x1F;
            Min = 0x80;
        } else if ((B0 & 0xF0) == 0xE0) {
            Len = 3;
            Cp = B0 & 0x0F;
            Min = 0x800;
        } else if ((B0 & 0xF8) == 0xF0) {
            Len = 4;
            Cp = B0 & 0x07;
            Min = 0x10000;
        }
        bool Ok = Len != 0 && I + Len <= N;
        for (size_t K = 1; Ok && K < Len; ++K) {
            const auto B = static_cast<uint8_t>(Text[I + K]);
            if ((B & 0xC0) != 0x80)
                Ok = false;
            else
                Cp = (Cp << 6) | (B & 0x3F);
        }
        if (Ok && (Cp < Min || Cp > 0x10FFFF || (Cp >= 0xD800 && Cp <= 0xDFFF)))
            Ok = false;
        if (!Ok) {
            Out += u'\uFFFD';
            ++I;
            continue;
        }
        if (Cp >= 0x10000) {
            Cp -= 0x10000;
            Out += static_cast<char16_t>(0xD800 + (Cp >> 10));
            Out += static_cast<char16_t>(0xDC00 + (Cp & 0x3FF));
        } else {
            Out += static_cast<char16_t>(Cp);
        }
        I += Len;
    }
    return Out;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    const size_t N = Text.size();
    for (size_t I = 0; I < N; ++I) {
        uint32_t Cp = Text[I];
        if (Cp >= 0xD800 && Cp <= 0xDBFF && I + 1 < N && Text[I + 1] >= 0xDC00 &&
            Text[I + 1] <= 0xDFFF) {
            Cp = 0x10000 + ((Cp - 0xD800) << 10) + (Text[I + 1] - 0xDC00);
            ++I;
        } else if (Cp >= 0xD800 && Cp <= 0xDFFF) {
            Cp = 0xFFFD;
        }
        if (Cp < 0x80) {
            Out += static_cast<char>(Cp);
        } else if (Cp < 0x800) {
            Out += static_cast<char>(0xC0 | (Cp >> 6));
            Out += static_cast<char>(0x80 | (Cp & 0x3F));
        } else if (Cp < 0x10000) {
            Out += static_cast<char>(0xE0 | (Cp >> 12));
            Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
            Out += static_cast<char>(0x80 | (Cp & 0x3F));
        } else {
            Out += static_cast<char>(0xF0 | (Cp >> 18));
            Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
            Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
            Out += static_cast<char>(0x80 | (Cp & 0x3F));
        }
    }
    return Out;
}

} // namespace kds
