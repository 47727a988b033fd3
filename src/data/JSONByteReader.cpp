#include "data/JSONByteReader.h"

#include <string>

#include "base/AsciiText.h"
#include "data/DBXJSON.h"

namespace kds {

namespace {

// Writes "\u" and four upper-case hex digits of Unit at Out; returns Out + 6.
uint8_t* WriteEscape(uint8_t* Out, uint32_t Unit) {
    Out[0] = '\\';
    Out[1] = 'u';
    Out[2] = static_cast<uint8_t>(UpperHexDigits[(Unit >> 12) & 0xF]);
    Out[3] = static_cast<uint8_t>(UpperHexDigits[(Unit >> 8) & 0xF]);
    Out[4] = static_cast<uint8_t>(UpperHexDigits[(Unit >> 4) & 0xF]);
    Out[5] = static_cast<uint8_t>(UpperHexDigits[Unit & 0xF]);
    return Out + 6;
}

} // namespace

TJSONByteReader::TJSONByteReader(const uint8_t* Data, int32_t Offset, int32_t Range, bool IsUTF8)
    : FData(Data), FOffset(Offset), FRange(Range), FIsUTF8(IsUTF8) {
    // A byte-order mark is skipped only when something follows it.
    if (FIsUTF8 && FRange - FOffset > 3 && FData[FOffset] == 0xEF && FData[FOffset + 1] == 0xBB &&
        FData[FOffset + 2] == 0xBF)
        FOffset += 3;
}

int32_t TJSONByteReader::ValidateSequence() const {
    const uint8_t Lead = FData[FOffset];
    int32_t Length;
    if ((Lead & 0xE0) == 0xC0)
        Length = 2;
    else if ((Lead & 0xF0) == 0xE0)
        Length = 3;
    else if ((Lead & 0xF8) == 0xF0)
        Length = 4;
    else
        throw TJSONException("UTF8: Type cannot be determined out of header byte at position " +
                             std::to_string(FOffset));
    if (FRange - FOffset < Length)
        throw TJSONException(
            "UTF8: A start byte not followed by enough continuation bytes in position " +
            std::to_string(FOffset));
    for (int32_t I = 1; I < Length; ++I)
        if ((FData[FOffset + I] & 0xC0) != 0x80)
            throw TJSONException("UTF8: An unexpected continuation byte in " +
                                 std::to_string(Length) + "-byte UTF8 in position " +
                                 std::to_string(FOffset + I));
    return Length;
}

void TJSONByteReader::DecodeSequence() {
    const int32_t Length = ValidateSequence();
    const uint8_t* S = FData + FOffset;
    uint8_t* Out = FUtf8data;
    if (Length == 2) {
        Out = WriteEscape(Out, ((S[0] & 0x1Fu) << 6) | (S[1] & 0x3Fu));
    } else if (Length == 3) {
        Out = WriteEscape(Out, ((S[0] & 0x0Fu) << 12) | ((S[1] & 0x3Fu) << 6) | (S[2] & 0x3Fu));
    } else {
        const uint32_t CodePoint = ((S[0] & 0x07u) << 18) | ((S[1] & 0x3Fu) << 12) |
                                   ((S[2] & 0x3Fu) << 6) | (S[3] & 0x3Fu);
        // Code points above 10FFFF are not rejected; the subtraction wraps as
        // the 16-bit arithmetic of the escape does.
        const uint32_t V = CodePoint - 0x10000u;
        Out = WriteEscape(Out, 0xD800u + ((V >> 10) & 0xFFFFu));
        Out = WriteEscape(Out, 0xDC00u + (V & 0x3FFu));
    }
    FUtf8length = static_cast<int32_t>(Out - FUtf8data);
    FUtf8offset = 0;
    FOffset += Length;
}

} // namespace kds
