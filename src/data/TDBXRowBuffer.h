#pragma once

// The byte buffer of encoded rows and the codec of one field of every data
// type. Rows are sequences of fields in column (or parameter) order with
// nothing between them; integers are big-endian.
//
//   header            field                                      total length
//   ----------------  -----------------------------------------  ---------------------
//   0xC0 (bit 7 set)  null (any byte with bit 7 set reads null)  1
//   0x02              callback mark (the callback goes apart)    1
//   0x60 + n          short field, n = 0..31 payload bytes:      1 + n
//                     number >= 0, Boolean true, or text that
//                     continues beyond the field
//   0x20 + n          short field: number < 0, Boolean false,    1 + n
//                     text of n bytes, timestamp of n bytes
//   0x10 LL LL        medium field, 16-bit length, complete      3 + length
//   0x50 LL LL        medium field that continues (long value)   3 + length
//   0x40 L L L L      JSON block: the JSON byte form             5 + length
//   0x08 S S S S      blob header: only the size; bytes apart    5
//   0x00 ... 0x00     zero-terminated text (read only)           to the terminator
//
//   kind             payload
//   integers         magnitude, leading zero bytes dropped (0 = 60, 5 = 61 05,
//                    -1 = 21 01, -2147483648 = 24 80 00 00 00); the most
//                    negative number of the reader's width reads unchanged
//   double / single  IEEE bits big-endian, trailing zero bytes dropped; header
//                    0x20 + n when the sign bit is set (1.0 = 62 3F F0)
//   date             integer year*512 + month*32 + day
//   time             integer milliseconds since midnight
//   timestamp        0x20 + L, integer ms since 1970-01-01 UTC of the whole
//                    second, then 4 bytes of nanoseconds only when the
//                    millisecond part is not 0 (local time <-> UTC)
//   text             code units <= 254 one byte each until the first above
//                    254; then FF and every remaining unit as 2 bytes, high
//                    first. Up to the inline limit (1024, or the free space
//                    less 3 of a buffer whose minimum size is at least the
//                    offset + 1027; at most 65535); the rest is the value's
//                    overflow and the header gets bit 6 (0x50 / 0x60 + n)
//   BCD, currency    text: the decimal with "."; with BCD format 1 readers
//                    take 0x20/0x60 + n, a scale byte (low 7 bits), magnitude
//   timestamp+offset text: "YYYY-MM-DD HH:MM:SS.mmm +HH:MM"
//   bytes            0x10 (stream at its end) or 0x50 (more remains) with
//                    up to the inline limit; an empty stream is 0x20
//   JSON             0x40 block; null JSON is C0
//   table            the reader's row handle as an integer
//   connection       nothing
//
// Skipping a field uses its header alone: bit 7 -> 1; bit 5 -> 1 + low five
// bits; 0x02 -> 1; bit 4 -> 3 + length; bit 6 -> 5 + length; bit 3 -> 5 for
// 0x08, else 6 + low five bits of the sixth byte; 0x00 -> to the terminator.
//
// Bad input: every read is bounded by the bytes held; a field that runs past
// them, a header of the wrong kind, an ordinal outside the row, a JSON block
// that does not parse, or a number out of range raises TDBXError (code 0
// unless noted) and never reads outside the buffer. Nothing is allocated
// from a length before it has been checked against the bytes held.
//
// One buffer belongs to one connection thread; nothing locks. The buffer is
// reused: it grows and never shrinks, so steady-state encoding and decoding
// do not allocate.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/SQLTimeStamp.h"
#include "data/TBcd.h"

namespace kds {

class TDBXContext;
class TJSONValue;
class TStream;

class TDBXRowBuffer;

// Supplies the rest of a long value whose field continues beyond the row
// (a 0x50 or 0x60 + n header, or a blob header): the connection layer
// fetches it from the peer.
class TDBXLongValueSource {
public:
    virtual ~TDBXLongValueSource() = default;
    // Appends the rest of the value of field Ordinal of Row's current row
    // (RowIndex) to Bytes, which holds the inline part. KnownSize is the
    // total size from a blob header, or -1. Row gives the command handle and
    // a fresh blob handle (NextBlobId) for the request. Raises TDBXError when
    // the rest cannot be had; Bytes is then of no use.
    virtual void FetchRest(TDBXRowBuffer& Row, int32_t Ordinal, int64_t KnownSize,
                           std::vector<uint8_t>& Bytes) = 0;
};

class TDBXRowBuffer {
public:
    static constexpr int32_t DefaultMaxInline = 1024;
    // The largest row the buffer holds.
    static constexpr int32_t MaxRowBytes = 0x7FFFFF00;

    explicit TDBXRowBuffer(TDBXContext* DBXContext = nullptr) : FDBXContext(DBXContext) {}
    TDBXRowBuffer(const TDBXRowBuffer&) = delete;
    TDBXRowBuffer& operator=(const TDBXRowBuffer&) = delete;

    // --- Settings ---
    int32_t MinBufSize() const { return FMinBufSize; }
    void SetMinBufSize(int32_t Size);
    int32_t MaxInline() const { return FMaxInline; }
    void SetMaxInline(int32_t MaxInline) { FMaxInline = MaxInline; }
    // Fields per row, for NextRow; 0 when unknown.
    int32_t ColumnCount() const { return FColumnCount; }
    void SetColumnCount(int32_t Count) { FColumnCount = Count; }
    bool Client() const { return FClient; }
    void SetClient(bool Client) { FClient = Client; }
    int32_t CommandHandle() const { return FCommandHandle; }
    void SetCommandHandle(int32_t Handle) { FCommandHandle = Handle; }
    void SetLongValueSource(TDBXLongValueSource* Source) { FLongValueSource = Source; }
    TDBXContext* DBXContext() const { return FDBXContext; }
    // Moves whenever new row content is there to be read.
    int64_t Generation() const { return FGeneration; }
    // The blob handle given out last (0: none yet). A text or byte field
    // written with an overflow gets the next one, and so does every long
    // value fetched from a peer (NextBlobId); handles only grow.
    int32_t BlobId() const { return FBlobId; }
    int32_t NextBlobId() { return ++FBlobId; }

    // --- Writing: fields are appended at the write position ---
    // Empties the buffer for a new set of rows (keeps its memory, the
    // row-start table's too).
    void StartOver();
    // Marks the write position as the start of a new row of a batch: the
    // row-start table gets its offset. Rows written without it are not
    // counted (a parameter row is one row anyway).
    void BeginRow();
    const uint8_t* Data() const { return FBuf.get(); }
    // Bytes written (or, after SetReadBytes, held).
    int32_t Size() const { return FWriting ? FOff : FReadSize; }
    // The inline limit of a text or byte field written now.
    int32_t InlineLimit() const;

    void WriteNull();
    void WriteBoolean(bool Value);
    void WriteInt64(int64_t Value);
    void WriteDouble(double Value);
    void WriteSingle(float Value);
    // Dates, times and timestamps are written only when the reader would
    // take back the same value: a field out of range (30 February, month 13,
    // hour 24, minute or second 60, a millisecond part above 999, a year
    // outside 1 to 9999, an offset beyond 14:59) raises TDBXError 6 and
    // writes nothing, rather than a shifted value or one the reader refuses.
    // Day numbers 1 to MaxDBXDate.
    void WriteDate(TDBXDate Value);
    // Milliseconds 0 to MSecsPerDay - 1.
    void WriteTime(TDBXTime Value);
    // Local time; also raises TDBXError 6 when it cannot be converted to UTC.
    void WriteTimeStamp(const TSQLTimeStamp& Value);
    void WriteTimeStampOffset(const TSQLTimeStampOffset& Value);
    void WriteBcd(const TBcd& Value);
    // Overflow receives the encoded bytes beyond the inline limit (cleared
    // otherwise); answers whether there were any.
    bool WriteWideString(std::u16string_view Value, std::vector<uint8_t>& Overflow);
    bool WriteAnsiString(std::string_view Value, std::vector<uint8_t>& Overflow);
    // Reads from the stream's position as much as fits inline; answers
    // whether bytes remain in the stream.
    bool WriteBytes(TStream& Stream);
    void WriteJSON(const TJSONValue& Value);
    void WriteCallbackMark();

    // --- Reading ---
    // Copies Count bytes of rows in and rewinds to the first field of the
    // first row; moves the generation.
    void SetReadBytes(const uint8_t* Bytes, int32_t Count);
    // Room for Count bytes to be read straight into (then SetReadSize).
    uint8_t* ReadBuffer(int32_t Count);
    void SetReadSize(int32_t Count);
    // Turns what was written into the rows to read, from the first field;
    // the rows marked with BeginRow stay counted.
    void BeginRead();
    int32_t ReadSize() const { return FReadSize; }
    // The current row: counted from 0 within the rows held.
    int32_t RowIndex() const { return FRow; }
    // The rows whose start is known: those marked by BeginRow while
    // writing, or those reached by NextRow while reading (row 0 counts as
    // soon as the rows are there to be read).
    int32_t RowCount() const { return static_cast<int32_t>(FRowStarts.size()); }
    // The offset at which row Row starts; TDBXError 8 for a row not counted.
    int32_t RowStart(int32_t Row) const;
    // Reading: positions at the first field of row Row, going back through
    // the row-start table or forward with NextRow; false (and left at the
    // end) when the rows held end before it. Needs the column count.
    bool GoToRow(int32_t Row);
    // Positions at field Ordinal of the current row (from the row start when
    // it lies behind); TDBXError 8 for an ordinal outside the row.
    void GoToField(int32_t Ordinal);
    // Skips the rest of the current row (ColumnCount fields) and moves the
    // generation; false when no bytes follow.
    bool NextRow();
    // The header byte at the read position, or -1 at the end.
    int32_t PeekHeader() const;

    // Each reader decodes the field at the read position, advances past it,
    // and answers false for a null field (Value is then zero / empty).
    bool ReadBoolean(bool& Value);
    bool ReadInt8(int8_t& Value);
    bool ReadUInt8(uint8_t& Value);
    bool ReadInt16(int16_t& Value);
    bool ReadUInt16(uint16_t& Value);
    bool ReadInt32(int32_t& Value);
    bool ReadInt64(int64_t& Value);
    bool ReadDouble(double& Value);
    bool ReadSingle(float& Value);
    bool ReadDate(TDBXDate& Value);
    bool ReadTime(TDBXTime& Value);
    bool ReadTimeStamp(TSQLTimeStamp& Value);
    bool ReadTimeStampOffset(TSQLTimeStampOffset& Value);
    // Binary: the BCD format 1 form.
    bool ReadBcd(TBcd& Value, bool Binary);
    bool ReadWideString(std::u16string& Value);
    // Code units above 255 become '?'.
    bool ReadAnsiString(std::string& Value);
    bool ReadBytes(std::vector<uint8_t>& Value);
    bool ReadJSON(std::unique_ptr<TJSONValue>& Value);
    // True for the callback mark, false for null.
    bool ReadCallbackMark();
    void SkipField();

private:
    [[noreturn]] void Fail(int32_t Code, const std::string& Message) const;
    [[noreturn]] void Truncated() const;
    void EnsureRoom(int64_t Count);
    void BeginWrite();
    void EndField() { ++FField; }
    void PutHeaderAndLength(uint8_t ShortBase, uint8_t MediumBase, int32_t Length);
    void NoteRowStart(int32_t Offset);
    void StartReading(int32_t Count, bool KeepRowStarts);
    void PutInteger(uint8_t* At, int32_t& Length, int64_t Value) const;
    bool ReadHeader(uint8_t& H);
    template <typename TBits> void WriteFloatBits(TBits Bits);
    template <typename TBits> bool ReadFloatBits(TBits& Bits);
    // Reads the magnitude and sign of an integer field at FOff.
    bool ReadMagnitude(uint64_t& Magnitude, bool& Negative);
    bool ReadSigned(int64_t& Value, int64_t Min, int64_t Max, const char* TypeName);
    // Locates the encoded bytes of a text or byte field; Continues tells a
    // long value. Returns false for null.
    bool LocateText(const uint8_t*& Bytes, int64_t& Length, bool& Continues, int64_t& BlobSize,
                    bool AllowZeroTerminated);
    template <typename S> bool ReadText(S& Value);
    template <typename S> void DecodeText(const uint8_t* Bytes, int64_t Length, S& Value) const;
    template <typename C>
    bool WriteText(const C* Units, size_t Count, std::vector<uint8_t>& Overflow);

    TDBXContext* FDBXContext = nullptr; // not owned
    std::unique_ptr<uint8_t[]> FBuf;
    int32_t FBufLen = 0;
    int32_t FMinBufSize = 0;
    int32_t FOff = 0;
    int32_t FReadSize = 0;
    int32_t FColumnCount = 0;
    int32_t FRow = 0;
    int32_t FRowStart = 0;
    int32_t FField = 0;
    int32_t FMaxInline = DefaultMaxInline;
    int32_t FCommandHandle = -1;
    bool FClient = false;
    bool FWriting = true;
    int64_t FGeneration = 0;
    int32_t FBlobId = 0;
    // Row starts, grown 16 at a time: a batch holds a few hundred rows, and
    // the table is kept from batch to batch.
    std::vector<int32_t> FRowStarts;
    TDBXLongValueSource* FLongValueSource = nullptr; // not owned
    std::vector<uint8_t> FLongValue;                 // scratch for long values
};

} // namespace kds
