#include "support/MemoryChannel.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/DBXError.h"

namespace kds::test {

TBytes Bytes(std::string_view Text) {
    return TBytes(Text.begin(), Text.end());
}

TBytes Hex(std::string_view HexText) {
    TBytes Out;
    int Nibbles = 0;
    uint8_t Value = 0;
    for (char C : HexText) {
        int V = -1;
        if (C >= '0' && C <= '9')
            V = C - '0';
        else if (C >= 'a' && C <= 'f')
            V = C - 'a' + 10;
        else if (C >= 'A' && C <= 'F')
            V = C - 'A' + 10;
        if (V < 0)
            continue;
        Value = static_cast<uint8_t>(Value * 16 + V);
        if (++Nibbles == 2) {
            Out.push_back(Value);
            Nibbles = 0;
            Value = 0;
        }
    }
    if (Nibbles != 0)
        throw std::invalid_argument("odd number of hex digits");
    return Out;
}

TBytes Concat(std::initializer_list<TBytes> Parts) {
    TBytes Out;
    for (const TBytes& P : Parts)
        Out.insert(Out.end(), P.begin(), P.end());
    return Out;
}

std::string Show(const TBytes& Data) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Out;
    for (uint8_t B : Data) {
        if (B >= 32 && B < 127 && B != '\\') {
            Out += static_cast<char>(B);
        } else {
            Out += "\\x";
            Out += Digits[B >> 4];
            Out += Digits[B & 15];
        }
    }
    return Out;
}

void TMemoryChannel::Feed(const TBytes& Data) {
    // Drop what was consumed so that long scripts do not pile up.
    if (FInputPos > 0 && FInputPos == FInput.size()) {
        FInput.clear();
        FInputPos = 0;
    }
    FInput.insert(FInput.end(), Data.begin(), Data.end());
}

int32_t TMemoryChannel::Read(uint8_t* Buffer, int32_t Offset, int32_t Count) {
    ++FReadCount;
    if (Pending() == 0) {
        if (FRaiseWhenEmpty) {
            FLost = true;
            throw TDBXError(TDBXErrorCodes::None, "Connection lost");
        }
        return 0;
    }
    const int32_t Chunk = FChunkSizes[std::min(FChunkIndex, FChunkSizes.size() - 1)];
    ++FChunkIndex;
    size_t Take = std::min(Pending(), static_cast<size_t>(Count));
    if (Chunk > 0)
        Take = std::min(Take, static_cast<size_t>(Chunk));
    std::memcpy(Buffer + Offset, FInput.data() + FInputPos, Take);
    FInputPos += Take;
    return static_cast<int32_t>(Take);
}

int32_t TMemoryChannel::Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) {
    if (Count == 0)
        return 0;
    if (FFailAfter == 0) {
        FLost = true;
        throw TDBXError(TDBXErrorCodes::None, "Connection lost");
    }
    if (FFailAfter > 0)
        --FFailAfter;
    FWrites.emplace_back(Buffer + Offset, Buffer + Offset + Count);
    return Count;
}

TBytes TMemoryChannel::Written() const {
    TBytes Out;
    for (const TBytes& W : FWrites)
        Out.insert(Out.end(), W.begin(), W.end());
    return Out;
}

std::string TMemoryChannel::WrittenText() const {
    const TBytes All = Written();
    return std::string(All.begin(), All.end());
}

} // namespace kds::test
