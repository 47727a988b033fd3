#pragma once

// The token codec of one connection: TDBXJSonStreamReader pulls bytes from the
// channel into a fixed buffer and hands out tokens, numbers, strings and raw
// byte blocks; TDBXJSonStreamWriter assembles outgoing bytes in a fixed buffer
// and pushes them to the channel.
//
// The wire dialect is JSON-shaped with three particularities:
//   1. One byte per character: code units 32..255 travel as that byte; every
//      other unit travels as an escape. There is no UTF-8 at this level.
//   2. Arrays may hold raw byte blocks: a decimal count, ",", then exactly
//      that many raw bytes, which are never escaped or interpreted.
//   3. No framing: a message ends where its structure ends.
//
// Byte format (C string notation, \" is the quote byte):
//
//   item                    bytes
//   ----------------------  ---------------------------------------------------------
//   string                  " units "; unit 8 \b, 9 \t, 10 \n, 12 \f, 13 \r, 34 \",
//                           92 \\, other 32..255 that byte, everything else \uXXXX
//                           (upper-case hex; surrogates one escape each; "/" plain).
//                           Reading accepts \u in either case and takes any other
//                           escaped byte as itself.
//   integer                 decimal, "-" first; read right after the preceding
//                           token (no white space skipped); "[]" read as a number
//                           gives 0; ".", "E", "e" are rejected
//   white space (reading)   bytes 9, 10, 13, 32 between tokens
//   byte block              [count,raw bytes]
//   request                 {"method":"name","params":[...]}   ("method" first)
//   result                  {"result":[...]}
//   void result             {"result":[]}
//   handle object           {"handle":[h]}
//   fields / table /        {"fields":[   {"table":[   {"columns":[   {"rows":[
//     columns / rows        (starts; the caller closes them)
//   parameters              {"parameters":[n ... ]}
//   data object             {"data":[n,bytes]}
//   streaming chunk         {"data":[COUNT9,bytes]}  COUNT9 = count left-aligned in
//                           nine bytes, padded with spaces, negative on the last
//                           chunk ({"data":[-10      ,0123456789]})
//   error object            {"error":{"name":"C","code":n,"message":"M"}   (one
//                           closing brace only: the outer object stays open)
//   callback request        {"callback":[n,bytes]}  bytes = JSON byte form
//
// Token kinds (Token()) and string codes (StringCode()) are the numbers below;
// error messages show a kind by its display text.
//
// Buffers. Both sides use one buffer of a fixed size (32768 here), made by
// Open and reused for the life of the connection. The writer sends a full
// buffer as exactly WriteBufferSize bytes and the rest on Flush, which every
// reply calls at its end; it never sends on its own otherwise. The reader keeps
// unconsumed bytes between requests, so pipelined requests are served from the
// buffer (HasMoreBytes).
//
// Errors. Every reader error is a TDBXError raised through the context:
//   code 2 "Expected:  'K' found:  'F' at position:  n" LF dump   (wrong token)
//   code 2 "Expected:  'LIT at position:  n" LF dump              (literal/key)
//   code 2 "Unexpected byte at position:  n" LF dump              (number)
//   code 1 "Read error"                                           (channel gave 0)
// After each code-2 error the rest of the read buffer is discarded. The dump is
// the read buffer from index 0 up to (not including) its last valid byte: bytes
// 32..126 as themselves, others as "#" and the decimal value. Sizes the peer
// controls are bounded by WireLimits.h before anything is reserved. Errors of
// the channel pass through unchanged.
//
// Threads: a reader and a writer belong to one connection thread; nothing
// locks. They do not own the channel or the context.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/wire/WireLimits.h"

namespace kds {

class TDbxChannel;
class TDBXContext;
class TJSONValue;
class TStream;

namespace TDBXTokens {
inline constexpr int32_t ObjectStart = 2;
inline constexpr int32_t ObjectEnd = 3;
inline constexpr int32_t ArrayStart = 4;
inline constexpr int32_t ArrayEnd = 5;
inline constexpr int32_t True = 6;
inline constexpr int32_t False = 7;
inline constexpr int32_t Null = 8;
inline constexpr int32_t Number = 9;
inline constexpr int32_t StringStart = 10;
inline constexpr int32_t String = 11;
inline constexpr int32_t NameSeparator = 12;
inline constexpr int32_t ValueSeparator = 13;
// "{" "}" "[" "]" "true" "false" "null" "-+0-9." "\"" "\"" ":" "," or "Unknown".
const char* DisplayText(int32_t Token);
} // namespace TDBXTokens

// The token kind each byte starts (what Next answers for it).
struct TTokenKindTable {
    uint8_t Kind[256];
    constexpr TTokenKindTable() : Kind() {
        for (int I = 0; I < 256; ++I)
            Kind[I] = TDBXTokens::Number;
        Kind[uint8_t('{')] = TDBXTokens::ObjectStart;
        Kind[uint8_t('}')] = TDBXTokens::ObjectEnd;
        Kind[uint8_t('[')] = TDBXTokens::ArrayStart;
        Kind[uint8_t(']')] = TDBXTokens::ArrayEnd;
        Kind[uint8_t('t')] = TDBXTokens::True;
        Kind[uint8_t('f')] = TDBXTokens::False;
        Kind[uint8_t('n')] = TDBXTokens::Null;
        Kind[uint8_t('"')] = TDBXTokens::StringStart;
        Kind[uint8_t(':')] = TDBXTokens::NameSeparator;
        Kind[uint8_t(',')] = TDBXTokens::ValueSeparator;
    }
};
inline constexpr TTokenKindTable TokenKinds;

// Keys and method names, matched exactly (case-sensitive, full length); any
// other string is Unknown. There is no code 6.
namespace TDBXStringCodes {
inline constexpr int32_t Unknown = 1;
inline constexpr int32_t Result = 2;
inline constexpr int32_t Error = 3;
inline constexpr int32_t Connect = 4;
inline constexpr int32_t Disconnect = 5;
inline constexpr int32_t Prepare = 7;
inline constexpr int32_t Execute = 8;
inline constexpr int32_t CommandClose = 9;
inline constexpr int32_t ReaderClose = 10;
inline constexpr int32_t Rows = 11;
inline constexpr int32_t Table = 12;
inline constexpr int32_t Columns = 13;
inline constexpr int32_t Session = 14;
inline constexpr int32_t Data = 15;
inline constexpr int32_t Next = 16;
inline constexpr int32_t Handle = 17;
inline constexpr int32_t Fields = 18;
inline constexpr int32_t Parameters = 19;
inline constexpr int32_t TxBegin = 20;
inline constexpr int32_t TxEnd = 21;
inline constexpr int32_t MoreBlob = 22;
inline constexpr int32_t NextResult = 23;
inline constexpr int32_t VendorProperty = 24;
inline constexpr int32_t Callback = 25;
inline constexpr int32_t Metadata = 26;
// The code of a string, or Unknown.
int32_t Classify(std::u16string_view Text);
} // namespace TDBXStringCodes

class TDBXJSonStreamWriter {
public:
    TDBXJSonStreamWriter() = default;
    TDBXJSonStreamWriter(const TDBXJSonStreamWriter&) = delete;
    TDBXJSonStreamWriter& operator=(const TDBXJSonStreamWriter&) = delete;

    // Set before Open. A size below 32 at Open is raised to 32 (a streaming
    // chunk needs room for its frame); 0 means 8192.
    void SetWriteBufferSize(int32_t Size) { FWriteBufferSize = Size; }
    int32_t WriteBufferSize() const { return FWriteBufferSize; }
    void SetDbxChannel(TDbxChannel* Channel) { FChannel = Channel; }
    TDbxChannel* DbxChannel() const { return FChannel; }
    // Allocates the buffer; the position becomes -1 (empty).
    void Open();
    void Close() {}
    bool Closed() const { return false; }
    bool ConnectionLost() const;

    // The buffer and the index of its last byte written (-1: empty), for
    // callers that fill bytes in place and then Skip over them.
    uint8_t* Buffer() { return FWriteBuffer.get(); }
    int32_t BufferPosition() const { return FWriteBufferPosition; }
    void Skip(int32_t Count) { FWriteBufferPosition += Count; }

    void WriteObjectStart() { PutByte('{'); }
    void WriteObjectEnd() { PutByte('}'); }
    void WriteArrayStart() { PutByte('['); }
    void WriteArrayEnd() { PutByte(']'); }
    void WriteValueSeparator() { PutByte(','); }
    void WriteNameSeparator() { PutByte(':'); }
    void WriteSpace() { PutByte(' '); }
    void WriteInt(int32_t Value) { WriteLong(Value); }
    void WriteLong(int64_t Value) {
        // Most numbers of the protocol are handles, counts and codes below 10.
        if (Value >= 0 && Value < 10) {
            PutByte(static_cast<uint8_t>('0' + Value));
            return;
        }
        WriteNumber(Value);
    }
    void WriteByte(int8_t Value) { WriteLong(Value); }
    void WriteShort(int16_t Value) { WriteLong(Value); }
    void WriteBoolean(bool Value);
    void WriteNull();
    void WriteString(std::u16string_view Chars);
    // 8-bit text, each byte the code unit of that value.
    void WriteString(std::string_view Chars);
    void WriteNamedString(std::u16string_view Name, std::u16string_view Value);
    void WriteDataBytes(const uint8_t* Data, int32_t Offset, int32_t Count);
    void WriteParamsStart();
    void WriteResultObjectStart();
    // {"result":[]} and Flush.
    void WriteResultVoidObject();
    // {"result":[v]} and Flush.
    void WriteResultObject(int64_t Value);
    void WriteResultEnd() { PutByte('}'); }
    void WriteHandleObject(int32_t Handle);
    void WriteFieldsObjectStart();
    void WriteTableObjectStart();
    void WriteColumnsObjectStart();
    void WriteRowsObjectStart();
    void WriteParametersObjectStart(int32_t Count);
    void WriteDataObjectStart();
    // {"data":[Count,bytes]}.
    void WriteDataObject(const uint8_t* Data, int32_t Count);
    // One streaming chunk of Reader's bytes from its position, read straight
    // into the buffer, then Flush. Answers true when the stream is exhausted
    // (the count was written negative, or 0 for an exhausted stream).
    bool WriteDataObject(TStream& Reader);
    // The error object with one closing brace (see the table). HasPairs
    // inserts ,"error":{} before that brace; the server never passes it.
    void WriteRpcError(std::u16string_view Name, int32_t ErrorCode, std::u16string_view Message,
                       bool HasPairs = false);
    // {"callback":[n,bytes]} with the JSON byte form of Data, and Flush.
    void WriteCallback(const TJSONValue& Data);
    // The same for the array [Ordinal,Kind,Arg] without building it (Arg
    // stays the caller's): {"callback":[n,[Ordinal,Kind,<Arg bytes>]]}.
    void WriteCallback(int32_t Ordinal, int32_t Kind, const TJSONValue& Arg);
    // The same with the key "metadata" (never written by this server).
    void WriteMetadata(const TJSONValue& Data);
    // The size of a row buffer chunk: the buffer size less 2048 when it is at
    // least 2048, else the buffer size (30720 for 32768).
    int32_t CalcRowBufferSize() const;
    // Sends bytes 0..position and empties the buffer.
    void Flush();
    // Sends what the buffer holds, without ending the reply being written,
    // when fewer than Bytes are free (a batch of rows starts with room for
    // its frame).
    void FlushIfRoomBelow(int32_t Bytes) {
        if (FWriteBufferSize - (FWriteBufferPosition + 1) < Bytes)
            SendBuffered();
    }

    // --- Replies and their rollback ---
    // Marks where the reply being written starts. Bytes sent by a full-buffer
    // flush after the mark are remembered.
    void BeginReply();
    // Drops the unsent bytes of the reply begun last, so that an error reply
    // can take its place. Answers false when part of that reply has already
    // left (the peer has a broken reply: the connection must end); true when
    // nothing of it has left, or no reply is open (Flush closes a reply).
    bool RollbackReply();
    bool InReply() const { return FInReply; }

    // Unused by the server; they produce nothing.
    void WriteSignature() {}
    void WriteFloat(float) {}
    void WriteDouble(double) {}

private:
    void PutByte(uint8_t Byte) {
        if (++FWriteBufferPosition == FWriteBufferSize)
            FlushFullBuffer();
        FWriteBuffer[FWriteBufferPosition] = Byte;
    }
    void PutBytes(const char* Text, int32_t Count);
    template <size_t N> void PutLiteral(const char (&Text)[N]) {
        PutBytes(Text, static_cast<int32_t>(N - 1));
    }
    void FlushFullBuffer();
    void WriteNumber(int64_t Value);
    // Sends what the buffer holds without closing the reply.
    void SendBuffered();
    // Writes {"<key>":[n,FScratch[0..n)]} and Flush.
    void WriteScratchBlock(const char* Start, int32_t StartLength, int32_t Count);

    int32_t FWriteBufferSize = 0;
    std::unique_ptr<uint8_t[]> FWriteBuffer;
    uint8_t FDecimalBuffer[20] = {};
    int32_t FWriteBufferPosition = -1;
    int32_t FWriteCount = 0;
    TDbxChannel* FChannel = nullptr; // not owned
    // Reply rollback.
    bool FInReply = false;
    bool FReplySent = false;
    int32_t FReplyStart = -1;
    std::vector<uint8_t> FScratch; // JSON byte forms of callbacks, reused
};

class TDBXJSonStreamReader {
public:
    TDBXJSonStreamReader() = default;
    TDBXJSonStreamReader(const TDBXJSonStreamReader&) = delete;
    TDBXJSonStreamReader& operator=(const TDBXJSonStreamReader&) = delete;

    // Set before Open; 0 means 8192.
    void SetReadBufferSize(int32_t Size) { FReadBufferSize = Size; }
    int32_t ReadBufferSize() const { return FReadBufferSize; }
    void SetDbxChannel(TDbxChannel* Channel) { FChannel = Channel; }
    TDbxChannel* DbxChannel() const { return FChannel; }
    // Not owned; errors are raised through it (a bare TDBXError without one).
    void SetDbxContext(TDBXContext* Context) { FContext = Context; }
    TDBXContext* DbxContext() const { return FContext; }
    // Allocates the buffers; position and last position become -1.
    void Open();
    void Close() {}
    bool GetConnectionLost() const;
    bool ConnectionLost() const { return GetConnectionLost(); }

    int32_t Token() const { return FToken; }
    int32_t StringCode() const { return FStringCode; }
    bool BooleanValue() const { return FBooleanValue; }
    // The last string handed out by ReadString.
    const std::u16string& StringValue() const { return FStringValue; }

    // Skips white space, reads one token and answers its kind.
    int32_t Next() {
        const uint8_t B = SkipWhiteSpace();
        if (B == 't' || B == 'f' || B == 'n')
            return NextLiteral(B);
        FToken = TokenKinds.Kind[B];
        return FToken;
    }
    // Next; the wrong-token error unless the kind is Expected.
    int32_t Next(int32_t Expected);
    void NextValueSeparator() { Next(TDBXTokens::ValueSeparator); }
    // A number that starts right after the current position (see the table).
    int32_t ReadInt();
    int16_t ReadShort();
    int64_t ReadLong();
    // Next; true for "true", false for "false", else the wrong-token error
    // naming "true".
    bool ReadBoolean();
    // A string: at a string start token or after white space only (anything
    // else is the wrong-token error). The text stays valid until the next read.
    const std::u16string& ReadString();
    // The same, with the text moved into Out (no copy); StringValue is then
    // left with what Out held.
    void ReadString(std::u16string& Out) {
        ReadString();
        Out.swap(FStringValue);
    }
    // Reads a string and answers its code; StringValue becomes "null".
    int32_t ReadStringCode();
    // Copies the next Count raw bytes (the block starts right after the
    // current position) across refills.
    void ReadDataBytes(uint8_t* Data, int32_t Offset, int32_t Count);
    // Reads "{", "\"method\"", ":" and the method name of a request; answers
    // its code.
    int32_t ReadMethod();
    // Reads up to and including "\"params\":" and answers the kind of the
    // token after it (see the codec rules).
    int32_t ReadParams();
    // Consume tokens until the object (array) open at the call is closed;
    // strings are skipped with their escapes honoured; nesting is bounded by
    // WireLimits::MaxSkipDepth.
    void SkipToEndOfObject();
    void SkipToEndOfArray();
    // After the key "error": reads the error body and raises the peer's code
    // and message as TDBXError.
    [[noreturn]] void ReadErrorBody();
    // The buffer holds bytes after the current position.
    bool HasMoreBytes() const { return FReadPosition < FReadLastPosition; }
    // Drops everything the buffer holds.
    void DiscardBuffer() { FReadPosition = FReadLastPosition; }
    // The wrong-token error (code 2, buffer discarded).
    [[noreturn]] void UnexpectedToken(int32_t Expected, int32_t Found);
    // A peer's size beyond its bound: code 2 with Text, the position and the
    // dump, on the parse-error path (buffer discarded).
    [[noreturn]] void BoundExceeded(const std::string& Text);

    // Unused by the server; they answer 0.
    int32_t ReadByte() { return 0; }
    float ReadFloat() { return 0; }
    double ReadDouble() { return 0; }

private:
    uint8_t NextByte() {
        if (FReadPosition >= FReadLastPosition)
            Refill();
        return FReadBuffer[++FReadPosition];
    }
    uint8_t PeekByte() {
        if (FReadPosition >= FReadLastPosition)
            Refill();
        return FReadBuffer[FReadPosition + 1];
    }
    // Reads the channel into the (fully consumed) buffer; the position
    // becomes -1, so the next byte is at index 0.
    void Refill();
    uint8_t SkipWhiteSpace() {
        for (;;) {
            if (FReadPosition >= FReadLastPosition)
                Refill();
            const uint8_t B = FReadBuffer[++FReadPosition];
            if (B > 32 || (B != 9 && B != 10 && B != 13 && B != 32))
                return B;
        }
    }
    // The literal true, false or null that starts with B.
    int32_t NextLiteral(uint8_t B);
    void ExpectLiteral(const char* Literal, const char* Rest);
    void ReadStringBody();
    void SkipStringBody();
    void SkipTo(int32_t Open, int32_t Close);
    uint64_t ReadMagnitude(bool& Negative);
    [[noreturn]] void ExpectedLiteral(const char* Literal);
    [[noreturn]] void UnexpectedByte();
    [[noreturn]] void ParseError(const std::string& Text);
    [[noreturn]] void Raise(int32_t Code, const std::string& Text);
    std::string Dump() const;

    int32_t FToken = 0;
    int32_t FStringCode = 1;
    std::u16string FStringValue;
    // Scratch the plain runs of a string are widened into, 4096 units at a
    // time at most.
    std::unique_ptr<char16_t[]> FCharBuffer;
    int32_t FCharBufferSize = 0;
    bool FBooleanValue = false;
    uint8_t FByteBuffer[WireLimits::MaxNumberBytes] = {};
    int32_t FByteBufferCount = 0;
    std::unique_ptr<uint8_t[]> FReadBuffer;
    int32_t FReadPosition = -1;
    int32_t FReadLastPosition = -1;
    TDbxChannel* FChannel = nullptr; // not owned
    TDBXContext* FContext = nullptr; // not owned
    int32_t FReadBufferSize = 0;
};

} // namespace kds
