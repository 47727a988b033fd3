#include "client/DSClientConnection.h"

#include "base/TextConvert.h"
#include "client/DSClientChannel.h"
#include "client/DSClientCommand.h"
#include "data/DBXJSON.h"
#include "server/wire/DBXFilterSocketChannel.h"
#include "server/wire/DbxChannel.h"
#include "server/wire/WireLimits.h"

namespace kds {

TDSClientConnection::TDSClientConnection() = default;

TDSClientConnection::~TDSClientConnection() = default;

void TDSClientConnection::Open(const std::string& Host, uint16_t Port,
                               std::chrono::milliseconds ConnectTimeout) {
    Open(std::make_unique<TDSTCPClientChannel>(Host, Port, ConnectTimeout));
}

void TDSClientConnection::Open(std::unique_ptr<TDbxChannel> Channel) {
    FChannel = std::move(Channel);
    FBroken = false;
    FReader.SetReadBufferSize(BufferSize);
    FReader.SetDbxContext(&FContext);
    FReader.SetDbxChannel(FChannel.get());
    FReader.Open();
    FWriter.SetWriteBufferSize(BufferSize);
    FWriter.SetDbxChannel(FChannel.get());
    FWriter.Open();
}

void TDSClientConnection::Close() {
    if (FChannel)
        FChannel->Close();
    FChannel.reset();
    FReader.SetDbxChannel(nullptr);
    FWriter.SetDbxChannel(nullptr);
}

void TDSClientConnection::SetReplyTimeout(std::chrono::milliseconds Timeout) {
    if (auto* Tcp = dynamic_cast<TDSTCPClientChannel*>(FChannel.get()))
        Tcp->SetReadTimeout(Timeout);
}

void TDSClientConnection::CheckUsable() const {
    if (!FChannel)
        throw TDSConnectionError("Not connected");
    if (FBroken)
        throw TDSConnectionError("The connection is broken");
}

void TDSClientConnection::Probe() {
    Guarded([&] {
        uint8_t Request[TDBXFilterSocketChannel::HeaderSize];
        std::fill(std::begin(Request), std::end(Request), TDBXFilterSocketChannel::ProbeByte);
        FChannel->Write(Request, 0, TDBXFilterSocketChannel::HeaderSize);
        uint8_t Answer[TDBXFilterSocketChannel::HeaderSize] = {};
        FReader.ReadDataBytes(Answer, 0, TDBXFilterSocketChannel::HeaderSize);
        const bool NoFilters = Answer[0] == TDBXFilterSocketChannel::NoFiltersByte &&
                               Answer[1] == 0 && Answer[2] == 0 && Answer[3] == 0 && Answer[4] == 0;
        if (!NoFilters) {
            MarkBroken();
            throw TDSProtocolError("The server did not answer the filter probe with "
                                   "06 00 00 00 00");
        }
    });
}

void TDSClientConnection::BeginRequest(std::string_view Method) {
    FWriter.WriteObjectStart();
    FWriter.WriteString(std::string_view("method"));
    FWriter.WriteNameSeparator();
    FWriter.WriteString(Method);
    FWriter.WriteValueSeparator();
    FWriter.WriteParamsStart();
}

void TDSClientConnection::EndRequest() {
    FWriter.WriteArrayEnd();
    FWriter.WriteObjectEnd();
    FWriter.Flush();
}

TDSConnectInfo TDSClientConnection::Connect(const TDBXProperties& Properties) {
    return Guarded([&] {
        BeginRequest("connect");
        FWriter.WriteObjectStart();
        for (int32_t I = 0; I < Properties.Count(); ++I) {
            if (I > 0)
                FWriter.WriteValueSeparator();
            FWriter.WriteNamedString(Properties.Name(I), Properties.Value(I));
        }
        FWriter.WriteObjectEnd();
        EndRequest();
        if (ReadReplyStart() != TDBXStringCodes::Result)
            throw TDSProtocolError("The connect reply is not a result");
        TDSConnectInfo Info;
        FReader.Next(TDBXTokens::ArrayStart);
        Info.ConnectionHandle = FReader.ReadInt();
        FReader.NextValueSeparator();
        FReader.ReadString(Info.ProductName);
        FReader.NextValueSeparator();
        Info.ProtocolVersion = FReader.ReadInt();
        FReader.Next(TDBXTokens::ArrayEnd);
        FReader.Next(TDBXTokens::ObjectEnd);
        return Info;
    });
}

void TDSClientConnection::Disconnect() {
    Guarded([&] {
        BeginRequest("disconnect");
        EndRequest();
    });
}

std::unique_ptr<TDSClientCommand> TDSClientConnection::Prepare(std::u16string_view Text,
                                                               std::u16string_view CommandType) {
    auto Command = std::make_unique<TDSClientCommand>(*this);
    Command->Prepare(Text, CommandType);
    return Command;
}

int32_t TDSClientConnection::ReadReplyStart() {
    for (;;) {
        FReader.Next(TDBXTokens::ObjectStart);
        FReader.Next(TDBXTokens::StringStart);
        const int32_t Key = FReader.ReadStringCode();
        if (Key == TDBXStringCodes::Callback) {
            AnswerCallback();
            continue;
        }
        if (Key == TDBXStringCodes::Error)
            ReadErrorReply();
        FReader.Next(TDBXTokens::NameSeparator);
        return Key;
    }
}

int32_t TDSClientConnection::ReadDataObjectBody(std::vector<uint8_t>& Bytes) {
    FReader.Next(TDBXTokens::ArrayStart);
    const int32_t Count = FReader.ReadInt();
    if (Count > WireLimits::MaxBlockBytes || Count < -WireLimits::MaxBlockBytes)
        throw TDSProtocolError("The server sent a block of " + std::to_string(Count) + " bytes");
    const int32_t Size = Count < 0 ? -Count : Count;
    Bytes.resize(static_cast<size_t>(Size));
    const int32_t T = FReader.Next();
    if (T == TDBXTokens::ValueSeparator) {
        FReader.ReadDataBytes(Bytes.data(), 0, Size);
        FReader.Next(TDBXTokens::ArrayEnd);
    } else if (T != TDBXTokens::ArrayEnd || Size != 0) {
        FReader.UnexpectedToken(TDBXTokens::ValueSeparator, T);
    }
    FReader.Next(TDBXTokens::ObjectEnd);
    return Count;
}

void TDSClientConnection::FetchLongValue(int32_t CommandHandle, int64_t Row, int32_t Ordinal,
                                         bool OutParameter, int32_t RowHandle,
                                         std::vector<uint8_t>& Bytes) {
    Guarded([&] {
        std::vector<uint8_t> Chunk;
        for (;;) {
            BeginRequest("more_blob");
            FWriter.WriteInt(CommandHandle);
            FWriter.WriteValueSeparator();
            FWriter.WriteInt(0); // the blob handle finds nothing; row and ordinal do
            FWriter.WriteValueSeparator();
            FWriter.WriteLong(Row);
            FWriter.WriteValueSeparator();
            FWriter.WriteInt(Ordinal);
            FWriter.WriteValueSeparator();
            FWriter.WriteBoolean(OutParameter);
            FWriter.WriteValueSeparator();
            FWriter.WriteInt(RowHandle);
            EndRequest();
            if (ReadReplyStart() != TDBXStringCodes::Result)
                throw TDSProtocolError("The more_blob reply is not a result");
            FReader.Next(TDBXTokens::ArrayStart);
            FReader.Next(TDBXTokens::ObjectStart);
            FReader.Next(TDBXTokens::StringStart);
            if (FReader.ReadStringCode() != TDBXStringCodes::Data)
                throw TDSProtocolError("The more_blob reply holds no data object");
            FReader.Next(TDBXTokens::NameSeparator);
            const int32_t Count = ReadDataObjectBody(Chunk);
            FReader.Next(TDBXTokens::ArrayEnd);
            FReader.Next(TDBXTokens::ObjectEnd);
            if (static_cast<int64_t>(Bytes.size() + Chunk.size()) > WireLimits::MaxLongValueBytes)
                throw TDSProtocolError("A long value grows beyond " +
                                       std::to_string(WireLimits::MaxLongValueBytes) + " bytes");
            Bytes.insert(Bytes.end(), Chunk.begin(), Chunk.end());
            if (Count <= 0)
                return;
        }
    });
}

void TDSClientConnection::ReadErrorReply() {
    std::u16string Name, Message, Key;
    int32_t Code = 0;
    FReader.Next(TDBXTokens::NameSeparator);
    FReader.Next(TDBXTokens::ObjectStart);
    int32_t T = FReader.Next();
    while (T == TDBXTokens::StringStart) {
        FReader.ReadString(Key);
        FReader.Next(TDBXTokens::NameSeparator);
        if (Key == u"code") {
            Code = FReader.ReadInt();
        } else if (Key == u"name") {
            FReader.ReadString(Name);
        } else if (Key == u"message") {
            FReader.ReadString(Message);
        } else if (FReader.Next() == TDBXTokens::ObjectStart) {
            FReader.SkipToEndOfObject();
        } else {
            FReader.ReadString();
        }
        T = FReader.Next();
        if (T == TDBXTokens::ValueSeparator)
            T = FReader.Next();
    }
    if (T != TDBXTokens::ObjectEnd)
        FReader.UnexpectedToken(TDBXTokens::ObjectEnd, T);
    // The error object has no brace of its own after its body: the next
    // reply starts right here.
    throw TDSRemoteError(Code, Utf16ToUtf8(Message), Utf16ToUtf8(Name));
}

void TDSClientConnection::AnswerCallback() {
    std::vector<uint8_t> Bytes;
    FReader.Next(TDBXTokens::NameSeparator);
    ReadDataObjectBody(Bytes);
    std::unique_ptr<TJSONValue> Argument =
        TJSONObject::ParseJSONValue(Bytes.data(), 0, static_cast<int32_t>(Bytes.size()), true);
    std::unique_ptr<TJSONValue> Answer;
    std::string Failure;
    if (!Argument) {
        Failure = "The callback argument is not JSON";
    } else if (!FCallbackHandler) {
        Failure = "This client takes no callbacks";
    } else {
        try {
            Answer = FCallbackHandler(*Argument);
            if (!Answer)
                Failure = "The callback gave no answer";
        } catch (const std::exception& E) {
            Failure = E.what();
        }
    }
    if (Answer) {
        const std::vector<uint8_t> Json = Answer->ToBytes();
        FWriter.WriteDataObject(Json.data(), static_cast<int32_t>(Json.size()));
    } else {
        FWriter.WriteRpcError(u"Exception", TDBXErrorCodes::NotSupported, Utf8ToUtf16(Failure));
    }
    FWriter.Flush();
    ++FCallbacksAnswered;
}

} // namespace kds
