#include "data/TStream.h"

#include <algorithm>
#include <cstring>

namespace kds {

std::vector<uint8_t> TStream::ReadRemaining() {
    const int64_t Left = std::max<int64_t>(0, Size() - Position());
    std::vector<uint8_t> Bytes(static_cast<size_t>(Left));
    const int64_t Got = Left > 0 ? Read(Bytes.data(), Left) : 0;
    Bytes.resize(static_cast<size_t>(std::max<int64_t>(0, Got)));
    return Bytes;
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
    const int64_t Left = Size() - FPosition;
    const int64_t N = std::clamp<int64_t>(Count, 0, std::max<int64_t>(Left, 0));
    if (N > 0)
        std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0)
        return 0;
    const int64_t End = FPosition + Count;
    if (End > Size())
        FData.resize(static_cast<size_t>(End));
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = End;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t Base = 0;
    if (Origin == TSeekOrigin::Current)
        Base = FPosition;
    else if (Origin == TSeekOrigin::End)
        Base = Size();
    FPosition = std::clamp<int64_t>(Base + Offset, 0, Size());
    return FPosition;
}

void TMemoryStream::Assign(const uint8_t* Data, int64_t Count) {
    FData.assign(Data, Data + std::max<int64_t>(Count, 0));
    FPosition = 0;
}

} // namespace kds
