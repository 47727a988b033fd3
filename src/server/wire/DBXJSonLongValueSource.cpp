#include "server/wire/DBXJSonLongValueSource.h"

#include <algorithm>
#include <string>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/TDBXValueType.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {
constexpr int32_t LongValueErrorCode = TDBXErrorCodes::StreamingFailed;
constexpr char MoreBlobKey[] = "more_blob";
} // namespace

TDBXJSonLongValueSource::TDBXJSonLongValueSource(TDBXContext* Context, TDBXJSonStreamReader& Reader,
                                                 TDBXJSonStreamWriter& Writer)
    : FContext(Context), FReader(&Reader), FWriter(&Writer) {}

void TDBXJSonLongValueSource::Fail(const std::string& Text) const {
    RaiseDBXError(FContext, LongValueErrorCode, Text);
}

void TDBXJSonLongValueSource::FetchRest(TDBXRowBuffer& Row, int32_t Ordinal, int64_t KnownSize,
                                        std::vector<uint8_t>& Bytes) {
    const int64_t Max = WireLimits::MaxLongValueBytes;
    const int64_t Held = static_cast<int64_t>(Bytes.size());
    if (KnownSize > Max || Held > Max)
        Fail("The long value of field " + std::to_string(Ordinal) + " announces " +
             std::to_string(std::max(KnownSize, Held)) + " bytes, more than the " +
             std::to_string(Max) + " a value may have");
    if (KnownSize >= 0 && KnownSize < Held)
        Fail("The long value of field " + std::to_string(Ordinal) + " holds more bytes than its " +
             "size says");
    // Room grows with the chunks that arrive, never ahead of them: a size
    // announced is not yet a size sent.
    const int64_t Limit = KnownSize >= 0 ? KnownSize : Max;
    const int32_t CommandHandle = FCommandHandle != nullptr ? *FCommandHandle : Row.CommandHandle();
    const int64_t RowIndex = FRowOffset + Row.RowIndex();
    // A blob header announcing nothing has nothing to fetch.
    if (KnownSize == 0)
        return;
    bool Last = false;
    while (!Last) {
        WriteRequest(CommandHandle, Row.NextBlobId(), RowIndex, Ordinal);
        Last = ReadChunk(Bytes, Limit);
    }
    if (KnownSize >= 0 && static_cast<int64_t>(Bytes.size()) != KnownSize)
        Fail("The long value of field " + std::to_string(Ordinal) + " ended after " +
             std::to_string(Bytes.size()) + " of the " + std::to_string(KnownSize) +
             " bytes its field announced");
}

void TDBXJSonLongValueSource::WriteRequest(int32_t CommandHandle, int32_t BlobId, int64_t Row,
                                           int32_t Ordinal) {
    TDBXJSonStreamWriter& W = *FWriter;
    W.WriteObjectStart();
    W.WriteString(std::string_view(MoreBlobKey));
    W.WriteNameSeparator();
    W.WriteArrayStart();
    W.WriteInt(CommandHandle);
    W.WriteValueSeparator();
    W.WriteInt(BlobId);
    W.WriteValueSeparator();
    W.WriteLong(Row);
    W.WriteValueSeparator();
    W.WriteInt(Ordinal);
    W.WriteValueSeparator();
    W.WriteInt(FRowHandle);
    W.WriteArrayEnd();
    W.WriteObjectEnd();
    W.Flush();
}

bool TDBXJSonLongValueSource::ReadChunk(std::vector<uint8_t>& Bytes, int64_t Limit) {
    TDBXJSonStreamReader& R = *FReader;
    bool Wrapped = false;
    if (!ReadPeerAnswerStart(R, Wrapped))
        // Whatever the peer sent instead is not an answer: the request fails
        // now instead of waiting for one.
        Fail("The peer answered a more_blob request with something else than a data object");
    const int64_t Count = R.ReadInt();
    const int64_t Length = Count < 0 ? -Count : Count;
    if (Length > WireLimits::MaxBlockBytes)
        R.BoundExceeded("Byte count " + std::to_string(Count) + " is beyond " +
                        std::to_string(WireLimits::MaxBlockBytes) + " either way");
    const int64_t Held = static_cast<int64_t>(Bytes.size());
    if (Held + Length > Limit) {
        // The chunk's bytes cannot be taken; what the reader holds of them
        // goes, and the connection ends if more of them follow.
        R.DiscardBuffer();
        Fail("The long value grows to " + std::to_string(Held + Length) + " bytes, more than the " +
             std::to_string(Limit) + " it may have");
    }
    const int32_t T = R.Next();
    if (T == TDBXTokens::ValueSeparator) {
        if (Length > 0) {
            if (Held + Length > static_cast<int64_t>(Bytes.capacity()))
                Bytes.reserve(static_cast<size_t>(
                    std::min<int64_t>(std::max<int64_t>(Held + Length, 2 * Held), Limit)));
            Bytes.resize(static_cast<size_t>(Held + Length));
            R.ReadDataBytes(Bytes.data(), static_cast<int32_t>(Held), static_cast<int32_t>(Length));
        }
        R.Next(TDBXTokens::ArrayEnd);
    } else if (T != TDBXTokens::ArrayEnd || Length != 0) {
        R.UnexpectedToken(TDBXTokens::ValueSeparator, T);
    }
    R.Next(TDBXTokens::ObjectEnd);
    ReadPeerAnswerEnd(R, Wrapped);
    return Count <= 0;
}

bool ReadPeerAnswerStart(TDBXJSonStreamReader& R, bool& Wrapped) {
    R.Next(TDBXTokens::ObjectStart);
    R.Next(TDBXTokens::StringStart);
    int32_t Key = R.ReadStringCode();
    if (Key == TDBXStringCodes::Error)
        R.ReadErrorBody();
    Wrapped = Key == TDBXStringCodes::Result;
    if (Wrapped) {
        R.Next(TDBXTokens::NameSeparator);
        R.Next(TDBXTokens::ArrayStart);
        R.Next(TDBXTokens::ObjectStart);
        R.Next(TDBXTokens::StringStart);
        Key = R.ReadStringCode();
    }
    if (Key != TDBXStringCodes::Data) {
        R.DiscardBuffer();
        return false;
    }
    R.Next(TDBXTokens::NameSeparator);
    R.Next(TDBXTokens::ArrayStart);
    return true;
}

void ReadPeerAnswerEnd(TDBXJSonStreamReader& R, bool Wrapped) {
    if (Wrapped) {
        R.Next(TDBXTokens::ArrayEnd);
        R.Next(TDBXTokens::ObjectEnd);
    }
}

} // namespace kds
