#pragma once

// An in-memory byte channel for the wire tests: the peer's bytes are
// scripted, handed out in chosen chunk sizes, and everything written is
// captured write by write.
//
//   TMemoryChannel C;
//   C.Feed("{\"method\":...}");   // the peer sends
//   C.SetChunkSize(1);            // one byte per Read (0: all it holds)
//   ... serve ...
//   C.Written()                   // every byte written, joined
//   C.Writes()                    // one entry per Write call
//
// A Read with nothing left answers 0 (the reader's "Read error"), or raises
// TDBXError 0 "Connection lost" when SetRaiseWhenEmpty is on. A write can be
// made to fail. Counts of reads are kept so that tests can show a request was
// served from the reader's buffer. One thread uses it at a time.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "server/wire/DbxChannel.h"

namespace kds::test {

using TBytes = std::vector<uint8_t>;

// Bytes from text (one byte per char) and hex ("22 61 62").
TBytes Bytes(std::string_view Text);
TBytes Hex(std::string_view HexText);
// Joins byte pieces.
TBytes Concat(std::initializer_list<TBytes> Parts);
// Printable form for failure messages: text with \xNN for other bytes.
std::string Show(const TBytes& Data);

class TMemoryChannel : public TDbxChannel {
public:
    TMemoryChannel() = default;

    // Appends bytes the peer sends.
    void Feed(const TBytes& Data);
    void Feed(std::string_view Text) { Feed(Bytes(Text)); }
    // At most this many bytes per Read; 0 hands out everything held. A list
    // of sizes is used in turn, the last one repeating.
    void SetChunkSize(int32_t Size) { FChunkSizes = {Size}; }
    void SetChunkSizes(std::vector<int32_t> Sizes) { FChunkSizes = std::move(Sizes); }
    void SetRaiseWhenEmpty(bool Raise) { FRaiseWhenEmpty = Raise; }
    // The write after this many more writes raises TDBXError 0 (-1: never).
    void FailWriteAfter(int32_t Writes) { FFailAfter = Writes; }

    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    bool GetConnectionLost() const override { return FLost; }

    size_t Pending() const { return FInput.size() - FInputPos; }
    int32_t ReadCount() const { return FReadCount; }
    const std::vector<TBytes>& Writes() const { return FWrites; }
    TBytes Written() const;
    std::string WrittenText() const;
    void ClearWritten() { FWrites.clear(); }

private:
    TBytes FInput;
    size_t FInputPos = 0;
    std::vector<int32_t> FChunkSizes{0};
    size_t FChunkIndex = 0;
    bool FRaiseWhenEmpty = false;
    bool FLost = false;
    int32_t FFailAfter = -1;
    int32_t FReadCount = 0;
    std::vector<TBytes> FWrites;
};

} // namespace kds::test
