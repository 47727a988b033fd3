#pragma once

#include <cstdint>

namespace kds {

// The parser's input cursor over Data[Offset..Range) (absolute indexes).
//
// In byte mode every byte is served unchanged. In UTF-8 mode a byte below 128
// is served unchanged and each multi-byte sequence is turned into the escape
// text that stands for it, which is then served byte by byte (the string
// grammar decodes it):
//
//   lead byte   continuation bytes   served as
//   110xxxxx    1                    \u0XXX  (the 11-bit code point)
//   1110xxxx    2                    \uXXXX  (the 16-bit code point)
//   11110xxx    3                    \uHHHH\uLLLL (surrogate pair)
//   anything else (10xxxxxx, 11111xxx): error
//
// Hex digits are upper case. Offset moves past a whole sequence when its
// first escape byte is consumed; Peek never moves it. Overlong forms and code
// points above 10FFFF are not rejected. Malformed sequences raise
// TJSONException (see DBXJSON.h) with the absolute position.
//
// One reader belongs to one parse on one thread.
class TJSONByteReader {
public:
    TJSONByteReader(const uint8_t* Data, int32_t Offset, int32_t Range, bool IsUTF8);

    // No byte left to serve.
    bool Empty() const { return FUtf8offset >= FUtf8length && FOffset >= FRange; }
    // At least Size bytes remain (pending escape bytes plus raw bytes).
    bool HasMore(int32_t Size) const {
        return (FUtf8length - FUtf8offset) + (FRange - FOffset) >= Size;
    }
    // The next byte to serve without consuming it; the caller checks Empty.
    uint8_t PeekByte() {
        if (FUtf8offset < FUtf8length)
            return FUtf8data[FUtf8offset];
        const uint8_t B = FData[FOffset];
        if (B < 0x80 || !FIsUTF8)
            return B;
        ValidateSequence();
        return '\\';
    }
    // Serves the next byte; the caller checks Empty.
    uint8_t ConsumeByte() {
        if (FUtf8offset < FUtf8length)
            return FUtf8data[FUtf8offset++];
        const uint8_t B = FData[FOffset];
        if (B < 0x80 || !FIsUTF8) {
            ++FOffset;
            return B;
        }
        DecodeSequence();
        return FUtf8data[FUtf8offset++];
    }
    // The absolute index of the next raw byte.
    int32_t Offset() const { return FOffset; }
    int32_t Range() const { return FRange; }
    bool IsUTF8() const { return FIsUTF8; }
    // No escape text pending: raw bytes can be read directly at Offset.
    bool AtRawByte() const { return FUtf8offset >= FUtf8length; }
    const uint8_t* Data() const { return FData; }
    // Moves past raw bytes the caller has read directly (needs AtRawByte).
    void SkipRaw(int32_t Count) { FOffset += Count; }

private:
    // Raises for a malformed sequence at FOffset; returns its length.
    int32_t ValidateSequence() const;
    void DecodeSequence();

    const uint8_t* FData;
    int32_t FOffset;
    int32_t FRange;
    bool FIsUTF8;
    uint8_t FUtf8data[12];
    int32_t FUtf8offset = 0;
    int32_t FUtf8length = 0;
};

} // namespace kds
