#include "server/wire/DBXStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TStream.h"
#include "server/wire/DbxChannel.h"

namespace kds {

namespace {

// Every parse error of the codec carries code 2; a channel that gives
// nothing carries code 1.
constexpr int32_t ParseErrorCode = 2;
constexpr int32_t ReadErrorCode = 1;

inline bool IsWhiteSpace(uint8_t B) {
    constexpr uint64_t Mask =
        (uint64_t(1) << 9) | (uint64_t(1) << 10) | (uint64_t(1) << 13) | (uint64_t(1) << 32);
    return B <= 32 && ((Mask >> B) & 1) != 0;
}

inline int32_t KindOfByte(uint8_t B) {
    return TokenKinds.Kind[B];
}

int32_t HexValue(uint8_t B) {
    if (B >= '0' && B <= '9')
        return B - '0';
    if (B >= 'a' && B <= 'f')
        return B - 'a' + 10;
    if (B >= 'A' && B <= 'F')
        return B - 'A' + 10;
    return -1;
}

const char HexDigits[] = "0123456789ABCDEF";

struct TStringCodeEntry {
    std::u16string_view Word;
    int32_t Code;
};

} // namespace

const char* TDBXTokens::DisplayText(int32_t Token) {
    switch (Token) {
    case ObjectStart:
        return "{";
    case ObjectEnd:
        return "}";
    case ArrayStart:
        return "[";
    case ArrayEnd:
        return "]";
    case True:
        return "true";
    case False:
        return "false";
    case Null:
        return "null";
    case Number:
        return "-+0-9.";
    case StringStart:
        return "\"";
    case String:
        return "\"";
    case NameSeparator:
        return ":";
    case ValueSeparator:
        return ",";
    default:
        return "Unknown";
    }
}

int32_t TDBXStringCodes::Classify(std::u16string_view Text) {
    // Only the words of the text's length are compared.
    auto Match = [&](std::initializer_list<TStringCodeEntry> Candidates) {
        for (const TStringCodeEntry& E : Candidates)
            if (std::equal(E.Word.begin(), E.Word.end(), Text.begin()))
                return E.Code;
        return Unknown;
    };
    switch (Text.size()) {
    case 4:
        return Match({{u"data", Data}, {u"next", Next}, {u"rows", Rows}});
    case 5:
        return Match({{u"error", Error}, {u"table", Table}, {u"txend", TxEnd}});
    case 6:
        return Match({{u"result", Result}, {u"handle", Handle}, {u"fields", Fields}});
    case 7:
        return Match({{u"execute", Execute},
                      {u"prepare", Prepare},
                      {u"connect", Connect},
                      {u"txbegin", TxBegin},
                      {u"columns", Columns},
                      {u"session", Session}});
    case 8:
        return Match({{u"callback", Callback}, {u"metadata", Metadata}});
    case 9:
        return Match({{u"more_blob", MoreBlob}});
    case 10:
        return Match({{u"parameters", Parameters}, {u"disconnect", Disconnect}});
    case 11:
        return Match({{u"next_result", NextResult}});
    case 12:
        return Match({{u"reader_close", ReaderClose}});
    case 13:
        return Match({{u"command_close", CommandClose}});
    case 15:
        return Match({{u"vendor_property", VendorProperty}});
    default:
        return Unknown;
    }
}

// ===========================================================================
// Writer
// ===========================================================================

void TDBXJSonStreamWriter::Open() {
    if (FWriteBufferSize <= 0)
        FWriteBufferSize = WireLimits::DefaultOpenBufferSize;
    // A streaming chunk needs its 13-byte frame and at least one byte.
    FWriteBufferSize = std::max(FWriteBufferSize, 32);
    FWriteBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(FWriteBufferSize));
    FWriteBufferPosition = -1;
    FInReply = false;
    FReplySent = false;
}

bool TDBXJSonStreamWriter::ConnectionLost() const {
    return FChannel != nullptr && FChannel->GetConnectionLost();
}

void TDBXJSonStreamWriter::FlushFullBuffer() {
    // The position is reset first: if the channel raises, nothing is sent
    // twice by a later Flush.
    FWriteBufferPosition = 0;
    if (FInReply)
        FReplySent = true;
    FChannel->Write(FWriteBuffer.get(), 0, FWriteBufferSize);
}

void TDBXJSonStreamWriter::SendBuffered() {
    const int32_t Count = FWriteBufferPosition + 1;
    FWriteBufferPosition = -1;
    if (Count <= 0)
        return;
    if (FInReply)
        FReplySent = true;
    FChannel->Write(FWriteBuffer.get(), 0, Count);
}

void TDBXJSonStreamWriter::Flush() {
    FInReply = false;
    SendBuffered();
}

void TDBXJSonStreamWriter::BeginReply() {
    FInReply = true;
    FReplySent = false;
    FReplyStart = FWriteBufferPosition;
}

bool TDBXJSonStreamWriter::RollbackReply() {
    if (!FInReply)
        return true;
    FInReply = false;
    if (FReplySent)
        return false;
    FWriteBufferPosition = FReplyStart;
    return true;
}

void TDBXJSonStreamWriter::PutBytes(const char* Text, int32_t Count) {
    if (FWriteBufferPosition + Count < FWriteBufferSize) {
        std::memcpy(FWriteBuffer.get() + FWriteBufferPosition + 1, Text,
                    static_cast<size_t>(Count));
        FWriteBufferPosition += Count;
        return;
    }
    for (int32_t I = 0; I < Count; ++I)
        PutByte(static_cast<uint8_t>(Text[I]));
}

void TDBXJSonStreamWriter::WriteNumber(int64_t Value) {
    uint64_t Magnitude =
        Value < 0 ? uint64_t(0) - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
    if (Value < 0)
        PutByte('-');
    if (Magnitude < 10) {
        PutByte(static_cast<uint8_t>('0' + Magnitude));
        return;
    }
    if (Magnitude < 100 && FWriteBufferPosition + 2 < FWriteBufferSize) {
        FWriteBuffer[FWriteBufferPosition + 1] = static_cast<uint8_t>('0' + Magnitude / 10);
        FWriteBuffer[FWriteBufferPosition + 2] = static_cast<uint8_t>('0' + Magnitude % 10);
        FWriteBufferPosition += 2;
        return;
    }
    int32_t At = static_cast<int32_t>(sizeof FDecimalBuffer);
    while (Magnitude > 0) {
        FDecimalBuffer[--At] = static_cast<uint8_t>('0' + Magnitude % 10);
        Magnitude /= 10;
    }
    PutBytes(reinterpret_cast<const char*>(FDecimalBuffer + At),
             static_cast<int32_t>(sizeof FDecimalBuffer) - At);
}

void TDBXJSonStreamWriter::WriteBoolean(bool Value) {
    if (Value)
        PutLiteral("true");
    else
        PutLiteral("false");
}

void TDBXJSonStreamWriter::WriteNull() {
    PutLiteral("null");
}

namespace {

// The escaped bytes of one code unit at Out; answers how many (at most 6).
inline int32_t EscapeUnit(uint32_t C, uint8_t* Out) {
    switch (C) {
    case 8:
        Out[0] = '\\', Out[1] = 'b';
        return 2;
    case 9:
        Out[0] = '\\', Out[1] = 't';
        return 2;
    case 10:
        Out[0] = '\\', Out[1] = 'n';
        return 2;
    case 12:
        Out[0] = '\\', Out[1] = 'f';
        return 2;
    case 13:
        Out[0] = '\\', Out[1] = 'r';
        return 2;
    case '"':
        Out[0] = '\\', Out[1] = '"';
        return 2;
    case '\\':
        Out[0] = '\\', Out[1] = '\\';
        return 2;
    default:
        break;
    }
    if (C >= 32 && C <= 255) {
        Out[0] = static_cast<uint8_t>(C);
        return 1;
    }
    Out[0] = '\\';
    Out[1] = 'u';
    Out[2] = static_cast<uint8_t>(HexDigits[(C >> 12) & 15]);
    Out[3] = static_cast<uint8_t>(HexDigits[(C >> 8) & 15]);
    Out[4] = static_cast<uint8_t>(HexDigits[(C >> 4) & 15]);
    Out[5] = static_cast<uint8_t>(HexDigits[C & 15]);
    return 6;
}

} // namespace

void TDBXJSonStreamWriter::WriteString(std::u16string_view Chars) {
    const int64_t Worst = 6 * static_cast<int64_t>(Chars.size()) + 2;
    if (FWriteBufferPosition + Worst < FWriteBufferSize) {
        // Room for the worst case: escape straight into the buffer.
        uint8_t* Out = FWriteBuffer.get() + FWriteBufferPosition + 1;
        uint8_t* P = Out;
        *P++ = '"';
        for (char16_t C : Chars)
            P += EscapeUnit(C, P);
        *P++ = '"';
        FWriteBufferPosition += static_cast<int32_t>(P - Out);
        return;
    }
    uint8_t Escaped[6];
    PutByte('"');
    for (char16_t C : Chars) {
        const int32_t N = EscapeUnit(C, Escaped);
        for (int32_t I = 0; I < N; ++I)
            PutByte(Escaped[I]);
    }
    PutByte('"');
}

void TDBXJSonStreamWriter::WriteString(std::string_view Chars) {
    uint8_t Escaped[6];
    PutByte('"');
    for (char C : Chars) {
        const int32_t N = EscapeUnit(static_cast<uint8_t>(C), Escaped);
        for (int32_t I = 0; I < N; ++I)
            PutByte(Escaped[I]);
    }
    PutByte('"');
}

void TDBXJSonStreamWriter::WriteNamedString(std::u16string_view Name, std::u16string_view Value) {
    WriteString(Name);
    PutByte(':');
    WriteString(Value);
}

void TDBXJSonStreamWriter::WriteDataBytes(const uint8_t* Data, int32_t Offset, int32_t Count) {
    int32_t Remaining = Count;
    const uint8_t* From = Data + Offset;
    while (Remaining > 0) {
        int32_t Room = FWriteBufferSize - (FWriteBufferPosition + 1);
        if (Room < 1) {
            SendBuffered();
            Room = FWriteBufferSize;
        }
        FWriteCount = std::min(Remaining, Room);
        std::memcpy(FWriteBuffer.get() + FWriteBufferPosition + 1, From,
                    static_cast<size_t>(FWriteCount));
        FWriteBufferPosition += FWriteCount;
        From += FWriteCount;
        Remaining -= FWriteCount;
    }
}

void TDBXJSonStreamWriter::WriteParamsStart() {
    PutLiteral("\"params\":[");
}
void TDBXJSonStreamWriter::WriteResultObjectStart() {
    PutLiteral("{\"result\":[");
}
void TDBXJSonStreamWriter::WriteResultVoidObject() {
    PutLiteral("{\"result\":[]}");
    Flush();
}
void TDBXJSonStreamWriter::WriteResultObject(int64_t Value) {
    PutLiteral("{\"result\":[");
    WriteLong(Value);
    PutLiteral("]}");
    Flush();
}
void TDBXJSonStreamWriter::WriteHandleObject(int32_t Handle) {
    PutLiteral("{\"handle\":[");
    WriteLong(Handle);
    PutLiteral("]}");
}
void TDBXJSonStreamWriter::WriteFieldsObjectStart() {
    PutLiteral("{\"fields\":[");
}
void TDBXJSonStreamWriter::WriteTableObjectStart() {
    PutLiteral("{\"table\":[");
}
void TDBXJSonStreamWriter::WriteColumnsObjectStart() {
    PutLiteral("{\"columns\":[");
}
void TDBXJSonStreamWriter::WriteRowsObjectStart() {
    PutLiteral("{\"rows\":[");
}
void TDBXJSonStreamWriter::WriteParametersObjectStart(int32_t Count) {
    PutLiteral("{\"parameters\":[");
    WriteLong(Count);
}
void TDBXJSonStreamWriter::WriteDataObjectStart() {
    PutLiteral("{\"data\":[");
}

void TDBXJSonStreamWriter::WriteDataObject(const uint8_t* Data, int32_t Count) {
    PutLiteral("{\"data\":[");
    WriteLong(Count);
    PutByte(',');
    WriteDataBytes(Data, 0, Count);
    PutLiteral("]}");
}

bool TDBXJSonStreamWriter::WriteDataObject(TStream& Reader) {
    PutLiteral("{\"data\":[");
    int32_t P = FWriteBufferPosition;
    if (FWriteBufferSize - P - 13 < 1) {
        // Not even one byte of data would fit behind the frame: send what is
        // there (the frame's start included) and lay the chunk out in an
        // empty buffer.
        SendBuffered();
        P = FWriteBufferPosition;
    }
    const int64_t N = FWriteBufferSize - P - 13;
    int64_t K = Reader.Read(FWriteBuffer.get() + P + 11, N);
    const bool AtEnd = Reader.Position() >= Reader.Size();
    bool Exhausted = false;
    if (K < N || AtEnd) {
        if (K < 0)
            K = 0;
        WriteLong(-K);
        Exhausted = true;
    } else {
        WriteLong(K);
    }
    while (FWriteBufferPosition < P + 9)
        PutByte(' ');
    PutByte(',');
    FWriteBufferPosition += static_cast<int32_t>(K);
    PutLiteral("]}");
    SendBuffered();
    return Exhausted;
}

void TDBXJSonStreamWriter::WriteRpcError(std::u16string_view Name, int32_t ErrorCode,
                                         std::u16string_view Message, bool HasPairs) {
    PutLiteral("{\"error\":{\"name\":");
    WriteString(Name);
    PutLiteral(",\"code\":");
    WriteLong(ErrorCode);
    PutLiteral(",\"message\":");
    WriteString(Message);
    if (HasPairs)
        PutLiteral(",\"error\":{}");
    PutByte('}');
}

void TDBXJSonStreamWriter::WriteScratchBlock(const char* Start, int32_t StartLength,
                                             int32_t Count) {
    PutBytes(Start, StartLength);
    WriteLong(Count);
    PutByte(',');
    WriteDataBytes(FScratch.data(), 0, Count);
    PutLiteral("]}");
    Flush();
}

void TDBXJSonStreamWriter::WriteCallback(const TJSONValue& Data) {
    FScratch.resize(static_cast<size_t>(std::max(Data.EstimatedByteSize(), 0)));
    const int32_t Count = Data.ToBytes(FScratch.data(), 0);
    static const char Start[] = "{\"callback\":[";
    WriteScratchBlock(Start, sizeof Start - 1, Count);
}

void TDBXJSonStreamWriter::WriteCallback(int32_t Ordinal, int32_t Kind, const TJSONValue& Arg) {
    // "[" ordinal "," kind "," argument "]": two numbers of at most 11 bytes.
    FScratch.resize(static_cast<size_t>(std::max(Arg.EstimatedByteSize(), 0)) + 32);
    int32_t At = 0;
    auto PutNumber = [&](int32_t Value) {
        const std::string Digits = std::to_string(Value);
        std::memcpy(FScratch.data() + At, Digits.data(), Digits.size());
        At += static_cast<int32_t>(Digits.size());
    };
    FScratch[At++] = '[';
    PutNumber(Ordinal);
    FScratch[At++] = ',';
    PutNumber(Kind);
    FScratch[At++] = ',';
    At = Arg.ToBytes(FScratch.data(), At);
    FScratch[At++] = ']';
    static const char Start[] = "{\"callback\":[";
    WriteScratchBlock(Start, sizeof Start - 1, At);
}

void TDBXJSonStreamWriter::WriteMetadata(const TJSONValue& Data) {
    FScratch.resize(static_cast<size_t>(std::max(Data.EstimatedByteSize(), 0)));
    const int32_t Count = Data.ToBytes(FScratch.data(), 0);
    static const char Start[] = "{\"metadata\":[";
    WriteScratchBlock(Start, sizeof Start - 1, Count);
}

int32_t TDBXJSonStreamWriter::CalcRowBufferSize() const {
    return FWriteBufferSize >= WireLimits::RowBufferReserve
               ? FWriteBufferSize - WireLimits::RowBufferReserve
               : FWriteBufferSize;
}

// ===========================================================================
// Reader
// ===========================================================================

void TDBXJSonStreamReader::Open() {
    if (FReadBufferSize <= 0)
        FReadBufferSize = WireLimits::DefaultOpenBufferSize;
    FReadBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(FReadBufferSize));
    FReadPosition = -1;
    FReadLastPosition = -1;
    FStringValue.reserve(128);
}

bool TDBXJSonStreamReader::GetConnectionLost() const {
    return FChannel != nullptr && FChannel->GetConnectionLost();
}

void TDBXJSonStreamReader::Raise(int32_t Code, const std::string& Text) {
    if (FContext != nullptr)
        FContext->Error(Code, Text);
    throw TDBXError(Code, Text);
}

std::string TDBXJSonStreamReader::Dump() const {
    std::string Out;
    for (int32_t I = 0; I < FReadLastPosition; ++I) {
        const uint8_t B = FReadBuffer[I];
        if (B >= 32 && B <= 126) {
            Out += static_cast<char>(B);
        } else {
            Out += '#';
            Out += std::to_string(B);
        }
    }
    return Out;
}

void TDBXJSonStreamReader::ParseError(const std::string& Text) {
    std::string Message = Text + " at position:  " + std::to_string(FReadPosition) + "\n" + Dump();
    FReadPosition = FReadLastPosition;
    Raise(ParseErrorCode, Message);
}

void TDBXJSonStreamReader::UnexpectedToken(int32_t Expected, int32_t Found) {
    ParseError(std::string("Expected:  '") + TDBXTokens::DisplayText(Expected) + "' found:  '" +
               TDBXTokens::DisplayText(Found) + "'");
}

void TDBXJSonStreamReader::ExpectedLiteral(const char* Literal) {
    ParseError(std::string("Expected:  '") + Literal);
}

void TDBXJSonStreamReader::BoundExceeded(const std::string& Text) {
    ParseError(Text);
}

void TDBXJSonStreamReader::UnexpectedByte() {
    ParseError("Unexpected byte");
}

void TDBXJSonStreamReader::Refill() {
    if (FChannel == nullptr || !FReadBuffer)
        Raise(ReadErrorCode, "Read error");
    const int32_t Count = FChannel->Read(FReadBuffer.get(), 0, FReadBufferSize);
    if (Count <= 0 || Count > FReadBufferSize)
        Raise(ReadErrorCode, "Read error");
    FReadLastPosition = Count - 1;
    FReadPosition = -1;
    if (FContext != nullptr && (FContext->IsTracingLevel(1) || FContext->IsTracing(256))) {
        // Formatted only when someone listens.
        std::string Bytes;
        for (int32_t I = 0; I < Count; ++I) {
            const uint8_t B = FReadBuffer[I];
            if (B >= 32 && B <= 126) {
                Bytes += static_cast<char>(B);
            } else {
                Bytes += '#';
                Bytes += std::to_string(B);
            }
        }
        FContext->Trace(1, 256, "read " + std::to_string(Count) + " bytes:" + Bytes);
    }
}

void TDBXJSonStreamReader::ExpectLiteral(const char* Literal, const char* Rest) {
    const size_t N = std::strlen(Rest);
    if (FReadLastPosition - FReadPosition >= static_cast<int32_t>(N) &&
        std::memcmp(FReadBuffer.get() + FReadPosition + 1, Rest, N) == 0) {
        FReadPosition += static_cast<int32_t>(N);
        return;
    }
    for (const char* P = Rest; *P != 0; ++P)
        if (NextByte() != static_cast<uint8_t>(*P))
            ExpectedLiteral(Literal);
}

int32_t TDBXJSonStreamReader::NextLiteral(uint8_t B) {
    switch (B) {
    case 't':
        ExpectLiteral("true", "rue");
        break;
    case 'f':
        ExpectLiteral("false", "alse");
        break;
    default:
        ExpectLiteral("null", "ull");
        break;
    }
    FToken = KindOfByte(B);
    if (FToken == TDBXTokens::True)
        FBooleanValue = true;
    else if (FToken == TDBXTokens::False)
        FBooleanValue = false;
    return FToken;
}

int32_t TDBXJSonStreamReader::Next(int32_t Expected) {
    const int32_t Found = Next();
    if (Found != Expected)
        UnexpectedToken(Expected, Found);
    return Found;
}

uint64_t TDBXJSonStreamReader::ReadMagnitude(bool& Negative) {
    // The number starts at the very next byte; every byte of "+-.0-9Ee"
    // belongs to it, the first other byte ends it and stays unconsumed.
    Negative = false;
    FByteBufferCount = 0;
    uint64_t Magnitude = 0;
    int32_t Digits = 0;
    for (;;) {
        const uint8_t B = PeekByte();
        const bool Digit = B >= '0' && B <= '9';
        const bool Sign = B == '+' || B == '-';
        if (!Digit && !Sign && B != '.' && B != 'E' && B != 'e')
            break;
        ++FReadPosition;
        if (FByteBufferCount >= WireLimits::MaxNumberBytes)
            UnexpectedByte();
        FByteBuffer[FByteBufferCount++] = B;
        if (Sign) {
            // A sign only in front.
            if (FByteBufferCount != 1)
                UnexpectedByte();
            Negative = B == '-';
            continue;
        }
        if (!Digit) // fractions and exponents never occur here
            UnexpectedByte();
        const uint64_t D = B - '0';
        if (Magnitude > (std::numeric_limits<uint64_t>::max() - D) / 10)
            UnexpectedByte();
        Magnitude = Magnitude * 10 + D;
        ++Digits;
    }
    if (FByteBufferCount == 0) {
        if (PeekByte() == ']')
            return 0;
        UnexpectedByte();
    }
    if (Digits == 0)
        UnexpectedByte();
    return Magnitude;
}

int32_t TDBXJSonStreamReader::ReadInt() {
    bool Negative = false;
    const uint64_t M = ReadMagnitude(Negative);
    if (Negative ? M > uint64_t(1) << 31 : M > uint64_t(std::numeric_limits<int32_t>::max()))
        UnexpectedByte();
    return Negative ? static_cast<int32_t>(-static_cast<int64_t>(M)) : static_cast<int32_t>(M);
}

int16_t TDBXJSonStreamReader::ReadShort() {
    const int32_t V = ReadInt();
    if (V < std::numeric_limits<int16_t>::min() || V > std::numeric_limits<int16_t>::max())
        UnexpectedByte();
    return static_cast<int16_t>(V);
}

int64_t TDBXJSonStreamReader::ReadLong() {
    bool Negative = false;
    const uint64_t M = ReadMagnitude(Negative);
    if (Negative ? M > uint64_t(1) << 63 : M > uint64_t(std::numeric_limits<int64_t>::max()))
        UnexpectedByte();
    return Negative ? static_cast<int64_t>(uint64_t(0) - M) : static_cast<int64_t>(M);
}

bool TDBXJSonStreamReader::ReadBoolean() {
    const int32_t T = Next();
    if (T == TDBXTokens::True)
        return true;
    if (T == TDBXTokens::False)
        return false;
    UnexpectedToken(TDBXTokens::True, T);
}

void TDBXJSonStreamReader::ReadStringBody() {
    FStringValue.clear();
    for (;;) {
        if (FReadPosition >= FReadLastPosition)
            Refill();
        // Plain bytes up to the next quote or backslash, widened in one pass
        // into room reserved for what the buffer holds (never past the bound).
        const uint8_t* From = FReadBuffer.get() + FReadPosition + 1;
        const uint8_t* End = FReadBuffer.get() + FReadLastPosition + 1;
        const size_t Old = FStringValue.size();
        const size_t Room = std::min({static_cast<size_t>(End - From), size_t(4096),
                                      static_cast<size_t>(WireLimits::MaxTokenUnits) + 1 - Old});
        if (FCharBufferSize < static_cast<int32_t>(Room)) {
            FCharBufferSize = static_cast<int32_t>(std::max(Room, size_t(128)));
            FCharBuffer = std::make_unique<char16_t[]>(static_cast<size_t>(FCharBufferSize));
        }
        char16_t* To = FCharBuffer.get();
        const uint8_t* P = From;
        const uint8_t* Stop = From + Room;
        while (P < Stop && *P != '"' && *P != '\\')
            *To++ = *P++;
        const size_t Run = static_cast<size_t>(P - From);
        if (Old + Run > static_cast<size_t>(WireLimits::MaxTokenUnits))
            UnexpectedByte();
        if (Old + Run > FStringValue.capacity())
            // Doubling, but never past the bound.
            FStringValue.reserve(std::min(std::max(Old + Run, 2 * FStringValue.capacity()),
                                          static_cast<size_t>(WireLimits::MaxTokenUnits)));
        FStringValue.append(FCharBuffer.get(), Run);
        FReadPosition += static_cast<int32_t>(Run);
        if (P == Stop)
            continue;
        const uint8_t B = NextByte();
        if (B == '"')
            break;
        // A backslash and its escape.
        const uint8_t E = NextByte();
        char16_t Unit = E;
        switch (E) {
        case 'b':
            Unit = 8;
            break;
        case 'f':
            Unit = 12;
            break;
        case 'n':
            Unit = 10;
            break;
        case 'r':
            Unit = 13;
            break;
        case 't':
            Unit = 9;
            break;
        case 'u': {
            uint32_t V = 0;
            for (int I = 0; I < 4; ++I) {
                const int32_t H = HexValue(NextByte());
                if (H < 0)
                    UnexpectedByte();
                V = V * 16 + static_cast<uint32_t>(H);
            }
            Unit = static_cast<char16_t>(V);
            break;
        }
        default:
            break; // quote, backslash and any other byte stand for themselves
        }
        if (FStringValue.size() >= static_cast<size_t>(WireLimits::MaxTokenUnits))
            UnexpectedByte();
        if (FStringValue.size() == FStringValue.capacity())
            FStringValue.reserve(std::min(2 * FStringValue.capacity() + 1,
                                          static_cast<size_t>(WireLimits::MaxTokenUnits)));
        FStringValue.push_back(Unit);
    }
    FToken = TDBXTokens::String;
}

void TDBXJSonStreamReader::SkipStringBody() {
    for (;;) {
        const uint8_t B = NextByte();
        if (B == '"')
            break;
        if (B == '\\')
            NextByte(); // the escaped byte cannot end the string
    }
    FToken = TDBXTokens::String;
}

const std::u16string& TDBXJSonStreamReader::ReadString() {
    if (FToken != TDBXTokens::StringStart) {
        // Only white space may stand before the string.
        const uint8_t B = SkipWhiteSpace();
        if (B != '"')
            UnexpectedToken(TDBXTokens::StringStart, KindOfByte(B));
    }
    ReadStringBody();
    return FStringValue;
}

int32_t TDBXJSonStreamReader::ReadStringCode() {
    ReadString();
    FStringCode = TDBXStringCodes::Classify(FStringValue);
    FStringValue.assign(u"null");
    return FStringCode;
}

void TDBXJSonStreamReader::ReadDataBytes(uint8_t* Data, int32_t Offset, int32_t Count) {
    int32_t Remaining = Count;
    uint8_t* To = Data + Offset;
    while (Remaining > 0) {
        if (FReadPosition >= FReadLastPosition) {
            if (Remaining >= FReadBufferSize && FChannel != nullptr) {
                // A large rest of a block goes straight from the channel to
                // its target, without a pass through the read buffer.
                const int32_t Got = FChannel->Read(To, 0, Remaining);
                if (Got <= 0 || Got > Remaining)
                    Raise(ReadErrorCode, "Read error");
                To += Got;
                Remaining -= Got;
                continue;
            }
            Refill();
        }
        const int32_t Take = std::min(Remaining, FReadLastPosition - FReadPosition);
        std::memcpy(To, FReadBuffer.get() + FReadPosition + 1, static_cast<size_t>(Take));
        FReadPosition += Take;
        To += Take;
        Remaining -= Take;
    }
}

int32_t TDBXJSonStreamReader::ReadMethod() {
    FStringCode = TDBXStringCodes::Unknown;
    Next();
    if (SkipWhiteSpace() != '"' || NextByte() != 'm')
        ExpectedLiteral("\"method\"");
    ExpectLiteral("\"method\"", "ethod\"");
    if (SkipWhiteSpace() != ':')
        ExpectedLiteral(":");
    if (SkipWhiteSpace() != '"')
        ExpectedLiteral("\"");
    ReadStringBody();
    FStringCode = TDBXStringCodes::Classify(FStringValue);
    return FStringCode;
}

int32_t TDBXJSonStreamReader::ReadParams() {
    uint8_t B = SkipWhiteSpace();
    while (B == ',' || IsWhiteSpace(B))
        B = NextByte();
    if (B != '"') {
        // Give the byte back: it starts the token answered.
        --FReadPosition;
        return Next();
    }
    static const char Key[] = "params\"";
    for (const char* P = Key; *P != 0; ++P) {
        const uint8_t C = NextByte();
        if (C == static_cast<uint8_t>(*P))
            continue;
        // Another key: the rest of it is consumed as a string.
        if (C == '\\')
            NextByte();
        if (C != '"')
            SkipStringBody();
        FToken = TDBXTokens::String;
        return FToken;
    }
    const int32_t T = Next();
    if (T == TDBXTokens::NameSeparator)
        return Next();
    return T;
}

void TDBXJSonStreamReader::SkipTo(int32_t Open, int32_t Close) {
    int32_t Depth = 1;
    for (;;) {
        const int32_t T = Next();
        if (T == Open) {
            if (++Depth > WireLimits::MaxSkipDepth)
                UnexpectedByte();
        } else if (T == Close) {
            if (--Depth == 0)
                return;
        } else if (T == TDBXTokens::StringStart) {
            SkipStringBody();
        }
    }
}

void TDBXJSonStreamReader::SkipToEndOfObject() {
    SkipTo(TDBXTokens::ObjectStart, TDBXTokens::ObjectEnd);
}

void TDBXJSonStreamReader::SkipToEndOfArray() {
    SkipTo(TDBXTokens::ArrayStart, TDBXTokens::ArrayEnd);
}

void TDBXJSonStreamReader::ReadErrorBody() {
    std::u16string Message = u"unknown error";
    int32_t Code = ParseErrorCode;
    Next(TDBXTokens::NameSeparator);
    Next(TDBXTokens::ObjectStart);
    Next(TDBXTokens::StringStart);
    for (;;) {
        const std::u16string Key = ReadString();
        Next(TDBXTokens::NameSeparator);
        if (Key == u"code") {
            Code = ReadInt();
        } else if (Key == u"error") {
            Next(TDBXTokens::ObjectStart);
            SkipToEndOfObject();
        } else {
            const std::u16string& Value = ReadString();
            if (Key == u"message")
                Message = Value;
        }
        const int32_t T = Next();
        if (T == TDBXTokens::ObjectEnd)
            break;
        if (T != TDBXTokens::ValueSeparator)
            UnexpectedToken(TDBXTokens::ObjectEnd, T);
        Next(TDBXTokens::StringStart);
    }
    Raise(Code, Utf16ToUtf8(Message));
}

} // namespace kds
