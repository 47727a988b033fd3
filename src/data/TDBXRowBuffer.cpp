#include "data/TDBXRowBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/BigEndian.h"
#include "base/DBXContext.h"
#include "base/NumberFormat.h"
#include "data/DBXJSON.h"
#include "data/TDBXFormatter.h"
#include "data/TDBXValueType.h"
#include "data/TStream.h"

namespace kds {

namespace {

constexpr uint8_t NullHeader = 0xC0;
constexpr uint8_t CallbackMark = 0x02;
constexpr uint8_t ShortNegative = 0x20; // also: Boolean false, complete short text
constexpr uint8_t ShortPositive = 0x60; // also: Boolean true, continued short text
constexpr uint8_t Medium = 0x10;
constexpr uint8_t MediumContinued = 0x50;
constexpr uint8_t JsonBlock = 0x40;
constexpr uint8_t BlobHeader = 0x08;

bool IsShort(uint8_t H) {
    return (H & 0xA0) == 0x20;
}

// Magnitude of N big-endian bytes; false when it needs more than 64 bits
// (leading zero bytes beyond eight are allowed).
bool DecodeMagnitude(const uint8_t* P, int32_t N, uint64_t& M) {
    M = 0;
    for (; N > 8; ++P, --N)
        if (*P != 0)
            return false;
    uint8_t Wide[8] = {};
    std::memcpy(Wide + (8 - N), P, static_cast<size_t>(N));
    M = DecodeBigEndian64(Wide);
    return true;
}

// The N trailing bytes of Value's eight big-endian bytes, at Out.
void EncodeLowBytes(uint8_t* Out, uint64_t Value, int32_t N) {
    uint8_t Wide[8];
    EncodeBigEndian64(Wide, Value);
    std::memcpy(Out, Wide + (8 - N), static_cast<size_t>(N));
}

std::string Padded(const char* Pattern, int A, int B, int C) {
    char Text[48];
    std::snprintf(Text, sizeof Text, Pattern, A, B, C);
    return Text;
}

// Why the date and time fields of a timestamp (with or without offset) cannot
// be written as they stand; empty when they can.
template <typename T> std::string DateTimePartsFault(const T& V) {
    if (V.Fractions > 999)
        return "Timestamp millisecond part " + std::to_string(V.Fractions) + " is above 999";
    if (!IsValidDate(V.Year, V.Month, V.Day))
        return "Timestamp date part " + Padded("%04d-%02d-%02d", V.Year, V.Month, V.Day) +
               " is not a date of the years 1 to 9999";
    if (!IsValidTimeOfDay(V.Hour, V.Minute, V.Second))
        return "Timestamp time part " + Padded("%02d:%02d:%02d", V.Hour, V.Minute, V.Second) +
               " is not a time of day";
    return {};
}

} // namespace

void TDBXRowBuffer::Fail(int32_t Code, const std::string& Message) const {
    RaiseDBXError(FDBXContext, Code, Message);
}

void TDBXRowBuffer::Truncated() const {
    Fail(TDBXErrorCodes::None,
         "Field " + std::to_string(FField) + " runs past the end of the row data");
}

void TDBXRowBuffer::SetMinBufSize(int32_t Size) {
    FMinBufSize = std::clamp(Size, 0, MaxRowBytes);
}

void TDBXRowBuffer::EnsureRoom(int64_t Count) {
    const int64_t Need = static_cast<int64_t>(FOff) + Count;
    if (Need <= FBufLen)
        return;
    if (Need > MaxRowBytes)
        Fail(TDBXErrorCodes::None, "Row data exceed the largest row size");
    int64_t NewLen = std::max<int64_t>({Need, int64_t(FBufLen) * 2, int64_t(FMinBufSize), 256});
    NewLen = std::min<int64_t>(NewLen, MaxRowBytes);
    std::unique_ptr<uint8_t[]> Grown(new uint8_t[static_cast<size_t>(NewLen)]);
    const int32_t Keep = std::min(FBufLen, std::max(FOff, FReadSize));
    if (Keep > 0)
        std::memcpy(Grown.get(), FBuf.get(), static_cast<size_t>(Keep));
    FBuf = std::move(Grown);
    FBufLen = static_cast<int32_t>(NewLen);
}

// ---------------------------------------------------------------------------
// Writing

void TDBXRowBuffer::StartOver() {
    FOff = 0;
    FReadSize = 0;
    FRow = 0;
    FRowStart = 0;
    FField = 0;
    FWriting = true;
    FRowStarts.clear();
}

void TDBXRowBuffer::NoteRowStart(int32_t Offset) {
    // The table doubles: a batch of many small rows from a peer must cost
    // time in proportion to its rows, not to their square.
    if (FRowStarts.size() == FRowStarts.capacity())
        FRowStarts.reserve(std::max<size_t>(16, 2 * FRowStarts.capacity()));
    FRowStarts.push_back(Offset);
}

void TDBXRowBuffer::BeginRow() {
    BeginWrite();
    FRow = static_cast<int32_t>(FRowStarts.size());
    FRowStart = FOff;
    FField = 0;
    NoteRowStart(FOff);
}

int32_t TDBXRowBuffer::RowStart(int32_t Row) const {
    if (Row < 0 || Row >= RowCount())
        Fail(TDBXErrorCodes::InvalidOrdinal, "Row " + std::to_string(Row) + " is not among the " +
                                                 std::to_string(RowCount()) + " rows counted");
    return FRowStarts[static_cast<size_t>(Row)];
}

bool TDBXRowBuffer::GoToRow(int32_t Row) {
    if (Row < 0)
        Fail(TDBXErrorCodes::InvalidOrdinal, "Row " + std::to_string(Row) + " is negative");
    if (FWriting)
        BeginRead();
    if (RowCount() == 0)
        return false;
    const int32_t Known = std::min(Row, RowCount() - 1);
    FRow = Known;
    FRowStart = FOff = FRowStarts[static_cast<size_t>(Known)];
    FField = 0;
    ++FGeneration;
    while (FRow < Row)
        if (!NextRow())
            return false;
    return true;
}

void TDBXRowBuffer::BeginWrite() {
    if (!FWriting)
        StartOver();
}

int32_t TDBXRowBuffer::InlineLimit() const {
    int64_t Limit = FMaxInline;
    if (static_cast<int64_t>(FMinBufSize) >= static_cast<int64_t>(FOff) + 1027)
        Limit = static_cast<int64_t>(FMinBufSize) - FOff - 3;
    if (Limit > 65534)
        Limit = 65535;
    return static_cast<int32_t>(std::max<int64_t>(Limit, 0));
}

void TDBXRowBuffer::PutInteger(uint8_t* At, int32_t& Length, int64_t Value) const {
    const uint64_t Magnitude =
        Value < 0 ? uint64_t(0) - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
    int32_t N = 0;
    for (uint64_t M = Magnitude; M != 0; M >>= 8)
        ++N;
    At[0] = static_cast<uint8_t>((Value < 0 ? ShortNegative : ShortPositive) + N);
    EncodeLowBytes(At + 1, Magnitude, N);
    Length = 1 + N;
}

void TDBXRowBuffer::WriteNull() {
    BeginWrite();
    EnsureRoom(1);
    FBuf[FOff++] = NullHeader;
    EndField();
}

void TDBXRowBuffer::WriteBoolean(bool Value) {
    BeginWrite();
    EnsureRoom(1);
    FBuf[FOff++] = Value ? ShortPositive : ShortNegative;
    EndField();
}

void TDBXRowBuffer::WriteInt64(int64_t Value) {
    BeginWrite();
    EnsureRoom(9);
    int32_t Length = 0;
    PutInteger(FBuf.get() + FOff, Length, Value);
    FOff += Length;
    EndField();
}

// Doubles and singles: the IEEE bit pattern big-endian without its trailing
// zero bytes, the sign bit in the header.
template <typename TBits> void TDBXRowBuffer::WriteFloatBits(TBits Bits) {
    constexpr int32_t Width = sizeof(TBits);
    BeginWrite();
    EnsureRoom(1 + Width);
    uint8_t* P = FBuf.get() + FOff;
    if constexpr (Width == 8)
        EncodeBigEndian64(P + 1, Bits);
    else
        EncodeBigEndian32(P + 1, Bits);
    int32_t N = Width;
    while (N > 0 && P[N] == 0)
        --N;
    P[0] = static_cast<uint8_t>(((P[1] & 0x80) != 0 ? ShortNegative : ShortPositive) + N);
    FOff += 1 + N;
    EndField();
}

void TDBXRowBuffer::WriteDouble(double Value) {
    uint64_t Bits = 0;
    std::memcpy(&Bits, &Value, sizeof Bits);
    WriteFloatBits(Bits);
}

void TDBXRowBuffer::WriteSingle(float Value) {
    uint32_t Bits = 0;
    std::memcpy(&Bits, &Value, sizeof Bits);
    WriteFloatBits(Bits);
}

void TDBXRowBuffer::WriteDate(TDBXDate Value) {
    if (!IsValidDBXDate(Value))
        Fail(TDBXErrorCodes::InvalidTime,
             "Date day number " + std::to_string(Value) + " is outside the years 1 to 9999");
    int32_t Y = 0, M = 0, D = 0;
    DecodeDBXDate(Value, Y, M, D);
    WriteInt64(int64_t(Y) * 512 + M * 32 + D);
}

void TDBXRowBuffer::WriteTime(TDBXTime Value) {
    if (Value < 0 || Value >= MSecsPerDay)
        Fail(TDBXErrorCodes::InvalidTime,
             "Time " + std::to_string(Value) + " ms is not a time of day");
    WriteInt64(Value);
}

void TDBXRowBuffer::WriteTimeStamp(const TSQLTimeStamp& Value) {
    BeginWrite();
    if (const std::string Fault = DateTimePartsFault(Value); !Fault.empty())
        Fail(TDBXErrorCodes::InvalidTime, Fault);
    int64_t Seconds = 0;
    if (!LocalTimeStampToUnixSeconds(Value, Seconds))
        Fail(TDBXErrorCodes::InvalidTime, "");
    EnsureRoom(14);
    uint8_t* P = FBuf.get() + FOff;
    int32_t Length = 0;
    PutInteger(P + 1, Length, Seconds * 1000);
    if (Value.Fractions != 0) {
        EncodeBigEndian32(P + 1 + Length, Value.Fractions * 1000000u);
        Length += 4;
    }
    P[0] = static_cast<uint8_t>(ShortNegative + Length);
    FOff += 1 + Length;
    EndField();
}

void TDBXRowBuffer::WriteTimeStampOffset(const TSQLTimeStampOffset& Value) {
    if (const std::string Fault = DateTimePartsFault(Value); !Fault.empty())
        Fail(TDBXErrorCodes::InvalidTime, Fault);
    if (Value.TimeZoneHour < -14 || Value.TimeZoneHour > 14 || Value.TimeZoneMinute < -59 ||
        Value.TimeZoneMinute > 59)
        Fail(TDBXErrorCodes::InvalidTime,
             "Timestamp offset part " + std::to_string(Value.TimeZoneHour) + ":" +
                 std::to_string(Value.TimeZoneMinute) + " is beyond 14:59 either way");
    std::vector<uint8_t> Unused;
    WriteAnsiString(TDBXFormatter::Default().TimeStampOffsetToString(Value), Unused);
}

void TDBXRowBuffer::WriteBcd(const TBcd& Value) {
    std::vector<uint8_t> Unused;
    WriteAnsiString(Value.ToString('.'), Unused);
}

template <typename C>
bool TDBXRowBuffer::WriteText(const C* Units, size_t Count, std::vector<uint8_t>& Overflow) {
    using U = std::make_unsigned_t<C>;
    BeginWrite();
    Overflow.clear();
    size_t Single = 0;
    while (Single < Count && static_cast<uint32_t>(static_cast<U>(Units[Single])) <= 254)
        ++Single;
    const int64_t Length =
        Single == Count ? int64_t(Count) : int64_t(Single) + 1 + 2 * int64_t(Count - Single);
    const int64_t Limit = InlineLimit();
    const bool Continues = Length > Limit;
    const int64_t Inline = Continues ? Limit : Length;
    const int32_t HeaderSize = Inline < 32 ? 1 : 3;
    EnsureRoom(HeaderSize + Inline);
    uint8_t* P = FBuf.get() + FOff;
    if (Inline < 32) {
        P[0] = static_cast<uint8_t>((Continues ? ShortPositive : ShortNegative) + Inline);
    } else {
        P[0] = Continues ? MediumContinued : Medium;
        EncodeBigEndian16(P + 1, static_cast<uint16_t>(Inline));
    }
    auto Encode = [&](uint8_t* Out) {
        for (size_t I = 0; I < Single; ++I)
            Out[I] = static_cast<uint8_t>(static_cast<U>(Units[I]));
        if (Single < Count) {
            uint8_t* Q = Out + Single;
            *Q++ = 0xFF;
            for (size_t I = Single; I < Count; ++I, Q += 2)
                EncodeBigEndian16(Q, static_cast<uint16_t>(static_cast<U>(Units[I])));
        }
    };
    if (!Continues) {
        Encode(P + HeaderSize);
    } else {
        Overflow.resize(static_cast<size_t>(Length));
        Encode(Overflow.data());
        std::memcpy(P + HeaderSize, Overflow.data(), static_cast<size_t>(Inline));
        Overflow.erase(Overflow.begin(), Overflow.begin() + Inline);
    }
    FOff += static_cast<int32_t>(HeaderSize + Inline);
    EndField();
    if (Continues)
        ++FBlobId;
    return Continues;
}

bool TDBXRowBuffer::WriteWideString(std::u16string_view Value, std::vector<uint8_t>& Overflow) {
    return WriteText(Value.data(), Value.size(), Overflow);
}

bool TDBXRowBuffer::WriteAnsiString(std::string_view Value, std::vector<uint8_t>& Overflow) {
    return WriteText(Value.data(), Value.size(), Overflow);
}

bool TDBXRowBuffer::WriteBytes(TStream& Stream) {
    BeginWrite();
    const int64_t Left = std::max<int64_t>(0, Stream.Size() - Stream.Position());
    const int64_t Want = std::min<int64_t>(InlineLimit(), Left);
    EnsureRoom(3 + Want);
    uint8_t* P = FBuf.get() + FOff;
    const int64_t Got = Want > 0 ? std::clamp<int64_t>(Stream.Read(P + 3, Want), 0, Want) : 0;
    if (Got == 0) {
        P[0] = ShortNegative;
        FOff += 1;
        EndField();
        return false;
    }
    const bool More = Stream.Position() < Stream.Size();
    P[0] = More ? MediumContinued : Medium;
    EncodeBigEndian16(P + 1, static_cast<uint16_t>(Got));
    FOff += static_cast<int32_t>(3 + Got);
    EndField();
    if (More)
        ++FBlobId;
    return More;
}

void TDBXRowBuffer::WriteJSON(const TJSONValue& Value) {
    BeginWrite();
    const int32_t Estimate = std::max(Value.EstimatedByteSize(), 0);
    EnsureRoom(int64_t(5) + Estimate);
    const int32_t Start = FOff + 5;
    const int32_t End = Value.ToBytes(FBuf.get(), Start);
    const uint32_t Length = static_cast<uint32_t>(End - Start);
    uint8_t* P = FBuf.get() + FOff;
    P[0] = JsonBlock;
    EncodeBigEndian32(P + 1, Length);
    FOff = End;
    EndField();
}

void TDBXRowBuffer::WriteCallbackMark() {
    BeginWrite();
    EnsureRoom(1);
    FBuf[FOff++] = CallbackMark;
    EndField();
}

// ---------------------------------------------------------------------------
// Reading

void TDBXRowBuffer::SetReadBytes(const uint8_t* Bytes, int32_t Count) {
    uint8_t* Target = ReadBuffer(Count);
    if (Count > 0)
        std::memcpy(Target, Bytes, static_cast<size_t>(Count));
    SetReadSize(Count);
}

uint8_t* TDBXRowBuffer::ReadBuffer(int32_t Count) {
    if (Count < 0 || Count > MaxRowBytes)
        Fail(TDBXErrorCodes::InvalidLength, "Row byte count " + std::to_string(Count) +
                                                " is outside 0.." + std::to_string(MaxRowBytes));
    StartOver();
    EnsureRoom(Count);
    return FBuf.get();
}

void TDBXRowBuffer::SetReadSize(int32_t Count) {
    StartReading(Count, false);
}

void TDBXRowBuffer::StartReading(int32_t Count, bool KeepRowStarts) {
    if (Count < 0 || Count > FBufLen)
        Fail(TDBXErrorCodes::InvalidLength,
             "Row byte count " + std::to_string(Count) + " exceeds the buffer");
    FWriting = false;
    FReadSize = Count;
    FOff = 0;
    FRow = 0;
    FRowStart = 0;
    FField = 0;
    if (!KeepRowStarts || FRowStarts.empty()) {
        FRowStarts.clear();
        if (Count > 0)
            NoteRowStart(0);
    }
    ++FGeneration;
}

void TDBXRowBuffer::BeginRead() {
    // The rows marked while writing stay counted.
    StartReading(FWriting ? FOff : FReadSize, true);
}

int32_t TDBXRowBuffer::PeekHeader() const {
    return FOff < FReadSize ? FBuf[FOff] : -1;
}

void TDBXRowBuffer::GoToField(int32_t Ordinal) {
    if (Ordinal < 0 || (FColumnCount > 0 && Ordinal >= FColumnCount))
        Fail(TDBXErrorCodes::InvalidOrdinal,
             "Field ordinal " + std::to_string(Ordinal) + " is outside the row");
    if (Ordinal < FField) {
        FOff = FRowStart;
        FField = 0;
    }
    while (FField < Ordinal)
        SkipField();
}

bool TDBXRowBuffer::NextRow() {
    if (FColumnCount <= 0)
        Fail(TDBXErrorCodes::None, "Rows cannot be told apart without a column count");
    while (FField < FColumnCount)
        SkipField();
    FRowStart = FOff;
    FField = 0;
    ++FRow;
    ++FGeneration;
    if (FOff >= FReadSize)
        return false;
    if (FRow == RowCount())
        NoteRowStart(FOff);
    return true;
}

void TDBXRowBuffer::SkipField() {
    if (FOff >= FReadSize)
        Truncated();
    const uint8_t* P = FBuf.get() + FOff;
    const int64_t Held = int64_t(FReadSize) - FOff;
    const uint8_t H = P[0];
    int64_t Length = 0;
    if ((H & 0x80) != 0) {
        Length = 1;
    } else if ((H & 0x20) != 0) {
        Length = 1 + (H & 31);
    } else if (H == CallbackMark) {
        Length = 1;
    } else if ((H & 0x10) != 0) {
        if (Held < 3)
            Truncated();
        Length = 3 + int64_t(DecodeBigEndian16(P + 1));
    } else if ((H & 0x40) != 0) {
        if (Held < 5)
            Truncated();
        Length = 5 + int64_t(DecodeBigEndian32(P + 1));
    } else if ((H & 0x08) != 0) {
        if (H == BlobHeader) {
            Length = 5;
        } else {
            if (Held < 6)
                Truncated();
            Length = 6 + (P[5] & 31);
        }
    } else if (H == 0) {
        const void* End = std::memchr(P + 1, 0, static_cast<size_t>(Held - 1));
        if (End == nullptr)
            Truncated();
        Length = static_cast<const uint8_t*>(End) - P + 1;
    } else {
        Fail(TDBXErrorCodes::None, "Unexpected header");
    }
    if (Length > Held)
        Truncated();
    FOff += static_cast<int32_t>(Length);
    EndField();
}

// Takes the header at the read position; a null field (bit 7 set) is consumed
// at once and answers false, so the reader has nothing left to decode.
bool TDBXRowBuffer::ReadHeader(uint8_t& H) {
    if (FOff >= FReadSize)
        Truncated();
    H = FBuf[FOff];
    if ((H & 0x80) == 0)
        return true;
    ++FOff;
    EndField();
    return false;
}

bool TDBXRowBuffer::ReadMagnitude(uint64_t& Magnitude, bool& Negative) {
    uint8_t H = 0;
    if (!ReadHeader(H))
        return false;
    if (!IsShort(H))
        Fail(TDBXErrorCodes::None, "Unexpected header");
    const int32_t N = H & 31;
    if (int64_t(FOff) + 1 + N > FReadSize)
        Truncated();
    Negative = (H & 0x40) == 0;
    if (!DecodeMagnitude(FBuf.get() + FOff + 1, N, Magnitude))
        Fail(TDBXErrorCodes::None,
             "Integer field " + std::to_string(FField) + " does not fit 64 bits");
    FOff += 1 + N;
    EndField();
    return true;
}

bool TDBXRowBuffer::ReadSigned(int64_t& Value, int64_t Min, int64_t Max, const char* TypeName) {
    uint64_t M = 0;
    bool Negative = false;
    Value = 0;
    if (!ReadMagnitude(M, Negative))
        return false;
    const uint64_t MinMagnitude = Min < 0 ? uint64_t(0) - static_cast<uint64_t>(Min) : 0;
    // The most negative 32-bit and 64-bit numbers arrive as a magnitude that
    // is already negative in that width; they are taken unchanged.
    const bool Wraps =
        Min == std::numeric_limits<int32_t>::min() || Min == std::numeric_limits<int64_t>::min();
    if (!Negative && M <= static_cast<uint64_t>(Max))
        Value = static_cast<int64_t>(M);
    else if (!Negative && Wraps && M == MinMagnitude)
        Value = Min;
    else if (Negative && M <= MinMagnitude)
        Value = M == MinMagnitude ? Min : -static_cast<int64_t>(M);
    else if (Negative && M == 0)
        Value = 0;
    else
        Fail(TDBXErrorCodes::None,
             "Integer field " + std::to_string(FField - 1) + " is out of range for " + TypeName);
    return true;
}

#define KDS_READ_INT(Method, Type, Name)                                                           \
    bool TDBXRowBuffer::Method(Type& Value) {                                                      \
        int64_t V = 0;                                                                             \
        const bool Present = ReadSigned(V, std::numeric_limits<Type>::min(),                       \
                                        std::numeric_limits<Type>::max(), Name);                   \
        Value = static_cast<Type>(V);                                                              \
        return Present;                                                                            \
    }
KDS_READ_INT(ReadInt8, int8_t, "TDBXTypes.INT8")
KDS_READ_INT(ReadUInt8, uint8_t, "TDBXTypes.UINT8")
KDS_READ_INT(ReadInt16, int16_t, "TDBXTypes.INT16")
KDS_READ_INT(ReadUInt16, uint16_t, "TDBXTypes.UINT16")
KDS_READ_INT(ReadInt32, int32_t, "TDBXTypes.INT32")
KDS_READ_INT(ReadInt64, int64_t, "TDBXTypes.INT64")
#undef KDS_READ_INT

bool TDBXRowBuffer::ReadBoolean(bool& Value) {
    Value = false;
    if (FOff >= FReadSize)
        Truncated();
    const uint8_t H = FBuf[FOff];
    if ((H & 0x80) == 0 && H != ShortPositive && H != ShortNegative)
        Fail(TDBXErrorCodes::None, "Unexpected header");
    ++FOff;
    EndField();
    if ((H & 0x80) != 0)
        return false;
    Value = H == ShortPositive;
    return true;
}

// The missing trailing bytes of a trimmed pattern are zeros.
template <typename TBits> bool TDBXRowBuffer::ReadFloatBits(TBits& Bits) {
    constexpr int32_t Width = sizeof(TBits);
    Bits = 0;
    uint8_t H = 0;
    if (!ReadHeader(H))
        return false;
    const int32_t N = H & 31;
    if (!IsShort(H) || N > Width)
        Fail(TDBXErrorCodes::None, "Unexpected header");
    if (int64_t(FOff) + 1 + N > FReadSize)
        Truncated();
    uint8_t Pattern[Width] = {};
    std::memcpy(Pattern, FBuf.get() + FOff + 1, static_cast<size_t>(N));
    if constexpr (Width == 8)
        Bits = DecodeBigEndian64(Pattern);
    else
        Bits = DecodeBigEndian32(Pattern);
    FOff += 1 + N;
    EndField();
    return true;
}

bool TDBXRowBuffer::ReadDouble(double& Value) {
    uint64_t Bits = 0;
    const bool Present = ReadFloatBits(Bits);
    std::memcpy(&Value, &Bits, sizeof Value);
    return Present;
}

bool TDBXRowBuffer::ReadSingle(float& Value) {
    uint32_t Bits = 0;
    const bool Present = ReadFloatBits(Bits);
    std::memcpy(&Value, &Bits, sizeof Value);
    return Present;
}

bool TDBXRowBuffer::ReadDate(TDBXDate& Value) {
    Value = 0;
    int64_t V = 0;
    if (!ReadSigned(V, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                    "TDBXTypes.DATE"))
        return false;
    const int64_t Y = V >> 9, M = (V >> 5) & 15, D = V & 31;
    if (V < 0 || Y > 9999 || !IsValidDate(int32_t(Y), int32_t(M), int32_t(D)))
        Fail(TDBXErrorCodes::None, "Date field " + std::to_string(FField - 1) +
                                       " holds no valid date: " + std::to_string(V));
    Value = EncodeDBXDate(int32_t(Y), int32_t(M), int32_t(D));
    return true;
}

bool TDBXRowBuffer::ReadTime(TDBXTime& Value) {
    Value = 0;
    int64_t V = 0;
    if (!ReadSigned(V, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                    "TDBXTypes.TIME"))
        return false;
    if (V < 0 || V >= MSecsPerDay)
        Fail(TDBXErrorCodes::None, "Time field " + std::to_string(FField - 1) +
                                       " is not a time of day: " + std::to_string(V));
    Value = static_cast<TDBXTime>(V);
    return true;
}

bool TDBXRowBuffer::ReadTimeStamp(TSQLTimeStamp& Value) {
    Value = TSQLTimeStamp{};
    uint8_t H = 0;
    if (!ReadHeader(H))
        return false;
    if ((H & 0xE0) != 0x20)
        Fail(TDBXErrorCodes::None, "Unexpected header");
    const int32_t L = H & 31;
    if (int64_t(FOff) + 1 + L > FReadSize)
        Truncated();
    const uint8_t* P = FBuf.get() + FOff + 1;
    auto Malformed = [this] {
        Fail(TDBXErrorCodes::None, "Timestamp field " + std::to_string(FField) + " is malformed");
    };
    if (L < 1 || !IsShort(P[0]))
        Malformed();
    const int32_t N = P[0] & 31;
    const int32_t Rest = L - 1 - N;
    if (Rest != 0 && Rest != 4)
        Malformed();
    uint64_t M = 0;
    if (!DecodeMagnitude(P + 1, N, M) || M > (uint64_t(1) << 62))
        Malformed();
    const int64_t Ms = (P[0] & 0x40) != 0 ? int64_t(M) : -int64_t(M);
    const uint32_t Nanos = Rest == 4 ? DecodeBigEndian32(P + 1 + N) : 0;
    if (Nanos >= 1000000000u)
        Malformed();
    int64_t Seconds = Ms / 1000;
    if (Ms % 1000 < 0)
        --Seconds;
    if (!UnixSecondsToLocalTimeStamp(Seconds, Value))
        Fail(TDBXErrorCodes::None,
             "Timestamp field " + std::to_string(FField) + " is outside the years 1 to 9999");
    Value.Fractions = Nanos / 1000000u;
    FOff += 1 + L;
    EndField();
    return true;
}

bool TDBXRowBuffer::ReadTimeStampOffset(TSQLTimeStampOffset& Value) {
    Value = TSQLTimeStampOffset{};
    std::string Text;
    if (!ReadAnsiString(Text))
        return false;
    try {
        Value = TDBXFormatter::Default().StringToTimeStampOffset(Text);
    } catch (const EConvertError&) {
        Fail(TDBXErrorCodes::None,
             "Timestamp with offset field " + std::to_string(FField - 1) + " is malformed");
    }
    return true;
}

bool TDBXRowBuffer::ReadBcd(TBcd& Value, bool Binary) {
    Value = TBcd{};
    if (!Binary) {
        std::string Text;
        if (!ReadAnsiString(Text))
            return false;
        if (!TBcd::TryParse(Text, '.', Value))
            Fail(TDBXErrorCodes::None,
                 "BCD field " + std::to_string(FField - 1) + " holds no decimal number");
        return true;
    }
    uint8_t H = 0;
    if (!ReadHeader(H))
        return false;
    const int32_t N = H & 31;
    if (!IsShort(H) || N < 1)
        Fail(TDBXErrorCodes::None, "Unexpected header");
    if (int64_t(FOff) + 1 + N > FReadSize)
        Truncated();
    const uint8_t* P = FBuf.get() + FOff + 1;
    const int32_t Scale = P[0] & 0x7F;
    uint64_t M = 0;
    if (!DecodeMagnitude(P + 1, N - 1, M))
        Fail(TDBXErrorCodes::InvalidLength, "BCD to big");
    if (Scale > TBcd::MaxDigits)
        Fail(TDBXErrorCodes::None, "BCD field scale " + std::to_string(Scale) + " is too large");
    Value = TBcd::FromScaled(M, Scale, (H & 0x40) == 0);
    FOff += 1 + N;
    EndField();
    return true;
}

bool TDBXRowBuffer::LocateText(const uint8_t*& Bytes, int64_t& Length, bool& Continues,
                               int64_t& BlobSize, bool AllowZeroTerminated) {
    if (FOff >= FReadSize)
        Truncated();
    const uint8_t* P = FBuf.get() + FOff;
    const int64_t Held = int64_t(FReadSize) - FOff;
    const uint8_t H = P[0];
    Continues = false;
    BlobSize = -1;
    int64_t Total = 0;
    if ((H & 0x80) != 0) {
        ++FOff;
        EndField();
        return false;
    }
    if (IsShort(H)) {
        Length = H & 31;
        Continues = (H & 0x40) != 0;
        Bytes = P + 1;
        Total = 1 + Length;
    } else if ((H & 0xBF) == Medium) {
        if (Held < 3)
            Truncated();
        Length = DecodeBigEndian16(P + 1);
        Continues = (H & 0x40) != 0;
        Bytes = P + 3;
        Total = 3 + Length;
    } else if (H == BlobHeader) {
        if (Held < 5)
            Truncated();
        BlobSize = DecodeBigEndian32(P + 1);
        Length = 0;
        Continues = true;
        Bytes = P + 5;
        Total = 5;
    } else if (H == 0 && AllowZeroTerminated) {
        const void* End = std::memchr(P + 1, 0, static_cast<size_t>(Held - 1));
        if (End == nullptr)
            Truncated();
        Bytes = P + 1;
        Length = static_cast<const uint8_t*>(End) - Bytes;
        Total = Length + 2;
    } else {
        Fail(TDBXErrorCodes::None, "Unexpected header");
    }
    if (Total > Held)
        Truncated();
    FOff += static_cast<int32_t>(Total);
    EndField();
    return true;
}

template <typename S>
void TDBXRowBuffer::DecodeText(const uint8_t* Bytes, int64_t Length, S& Value) const {
    int64_t Single = 0;
    while (Single < Length && Bytes[Single] != 0xFF)
        ++Single;
    int64_t Rest = Length - Single;
    if (Rest > 0) {
        --Rest;
        if (Rest % 2 != 0)
            Fail(TDBXErrorCodes::None,
                 "Text field " + std::to_string(FField - 1) + " ends inside a two-byte character");
    }
    Value.resize(static_cast<size_t>(Single + Rest / 2));
    for (int64_t I = 0; I < Single; ++I)
        Value[I] = static_cast<typename S::value_type>(Bytes[I]);
    const uint8_t* Q = Bytes + std::min<int64_t>(Single + 1, Length);
    for (int64_t I = 0; I < Rest / 2; ++I, Q += 2) {
        const uint32_t Unit = DecodeBigEndian16(Q);
        if constexpr (std::is_same_v<S, std::u16string>)
            Value[Single + I] = static_cast<char16_t>(Unit);
        else
            Value[Single + I] = Unit <= 0xFF ? static_cast<char>(Unit) : '?';
    }
}

template <typename S> bool TDBXRowBuffer::ReadText(S& Value) {
    const int32_t Ordinal = FField;
    const uint8_t* Bytes = nullptr;
    int64_t Length = 0, BlobSize = -1;
    bool Continues = false;
    if (!LocateText(Bytes, Length, Continues, BlobSize, true)) {
        Value.clear();
        return false;
    }
    if (!Continues) {
        DecodeText(Bytes, Length, Value);
        return true;
    }
    if (FLongValueSource == nullptr)
        Fail(TDBXErrorCodes::None, "The long value of field " + std::to_string(Ordinal) +
                                       " continues beyond the row and cannot be fetched");
    FLongValue.assign(Bytes, Bytes + Length);
    FLongValueSource->FetchRest(*this, Ordinal, BlobSize, FLongValue);
    DecodeText(FLongValue.data(), static_cast<int64_t>(FLongValue.size()), Value);
    return true;
}

bool TDBXRowBuffer::ReadWideString(std::u16string& Value) {
    return ReadText(Value);
}
bool TDBXRowBuffer::ReadAnsiString(std::string& Value) {
    return ReadText(Value);
}

bool TDBXRowBuffer::ReadBytes(std::vector<uint8_t>& Value) {
    const int32_t Ordinal = FField;
    const uint8_t* Bytes = nullptr;
    int64_t Length = 0, BlobSize = -1;
    bool Continues = false;
    if (!LocateText(Bytes, Length, Continues, BlobSize, false)) {
        Value.clear();
        return false;
    }
    Value.assign(Bytes, Bytes + Length);
    if (Continues) {
        if (FLongValueSource == nullptr)
            Fail(TDBXErrorCodes::None, "The long value of field " + std::to_string(Ordinal) +
                                           " continues beyond the row and cannot be fetched");
        FLongValueSource->FetchRest(*this, Ordinal, BlobSize, Value);
    }
    return true;
}

bool TDBXRowBuffer::ReadJSON(std::unique_ptr<TJSONValue>& Value) {
    Value.reset();
    uint8_t H = 0;
    if (!ReadHeader(H))
        return false;
    if (H != JsonBlock)
        Fail(TDBXErrorCodes::None, "Invalid JSON header byte encountered");
    if (int64_t(FReadSize) - FOff < 5)
        Truncated();
    const int64_t Length = DecodeBigEndian32(FBuf.get() + FOff + 1);
    if (int64_t(FOff) + 5 + Length > FReadSize)
        Truncated();
    const int32_t Start = FOff + 5;
    try {
        Value = TJSONObject::ParseJSONValue(FBuf.get(), Start, static_cast<int32_t>(Start + Length),
                                            true);
    } catch (const TJSONException&) {
        Value.reset();
    }
    if (!Value)
        Fail(TDBXErrorCodes::None, "JSON byte stream cannot be parsed correctly into a JSON value");
    FOff = static_cast<int32_t>(Start + Length);
    EndField();
    return true;
}

bool TDBXRowBuffer::ReadCallbackMark() {
    if (FOff >= FReadSize)
        Truncated();
    const uint8_t H = FBuf[FOff];
    if ((H & 0x80) == 0 && H != CallbackMark)
        Fail(TDBXErrorCodes::None, "Invalid callback header byte encountered");
    ++FOff;
    EndField();
    return H == CallbackMark;
}

} // namespace kds
