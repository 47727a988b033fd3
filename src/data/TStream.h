#pragma once

// Byte streams carried by stream values (blobs, binary, variants): an abstract
// stream with a position, and a growable memory stream. A stream belongs to
// one thread at a time; nothing locks.

#include <cstdint>
#include <vector>

namespace kds {

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Copies up to Count bytes from the position on; answers how many.
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Writes Count bytes at the position; answers how many were written.
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // The new position; clamped to 0 and the size.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
    virtual int64_t Size() const = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t Position) { Seek(Position, TSeekOrigin::Beginning); }
    // Everything from the position to the end.
    std::vector<uint8_t> ReadRemaining();
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> Bytes) : FData(std::move(Bytes)) {}

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() const override { return static_cast<int64_t>(FData.size()); }

    const std::vector<uint8_t>& Bytes() const { return FData; }
    // Replaces the content and rewinds.
    void Assign(const uint8_t* Data, int64_t Count);
    void Clear() {
        FData.clear();
        FPosition = 0;
    }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

} // namespace kds
