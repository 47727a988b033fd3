#pragma once

// The shared base of the input and the output connection handler: the
// connection's token reader and writer, its row buffer, and the readers and
// writers of parameter descriptions that both sides use.
//
// Parameter description on the wire (one JSON array of tokens):
//   [dataType, subType, direction, precision(64-bit), scale, "name",
//    childPosition, size, flags(, "literal value" when flags has 512)]
// The server always writes the flags; a reader takes the flags and what
// follows them as optional, and adds 128 (extended type) to the flags it
// read. A literal value is stored with SetWideString. The list object is
// {"parameters":[count,desc,desc,...]}.
//
// Ownership: the input handler owns the streamers and the row buffer
// (OwnsStreamers), the output handler only points at them. Threads: the
// connection's thread only.
//
// Tables a peer sends in an execute are read by ReadTable into readers that
// fetch their later batches and long values from the peer (DBXJSonReader.h);
// all tables of one request together stay within the column and byte bounds
// of one table (WireLimits::MaxTableColumns, MaxBlockBytes; TDBXError 2).

#include <cstdint>
#include <memory>
#include <string>

#include "server/wire/DBXCommandHandler.h"

namespace kds {

class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXRowBuffer;
class TDBXParameter;
class TDBXParameterList;
class TDBXExecuteMessage;

class TDBXJSonConnectionHandler : public TDBXConnectionHandler {
public:
    // Owning form: the streamers and the row buffer are freed with the handler.
    TDBXJSonConnectionHandler(TDBXContext* DbxContext, std::unique_ptr<TDBXRowBuffer> RowBuffer,
                              std::unique_ptr<TDBXJSonStreamWriter> Writer,
                              std::unique_ptr<TDBXJSonStreamReader> Reader, bool UsesDbxParameters);
    // Sharing form: none of them is owned; they outlive the handler.
    TDBXJSonConnectionHandler(TDBXContext* DbxContext, TDBXRowBuffer* RowBuffer,
                              TDBXJSonStreamWriter* Writer, TDBXJSonStreamReader* Reader,
                              bool UsesDbxParameters);
    ~TDBXJSonConnectionHandler() override;

    TDBXJSonStreamReader& StreamReader() const { return *FDbxStreamReader; }
    TDBXJSonStreamWriter& StreamWriter() const { return *FDbxStreamWriter; }
    TDBXRowBuffer& RowBuffer() const { return *FDbxRowBuffer; }
    bool UsesDbxParameters() const { return FUsesDbxParameters; }
    bool OwnsStreamers() const { return FOwnsStreamers; }
    // The reader's or the writer's channel reports the connection lost.
    bool GetConnectionLost() const;

    // Reads one description array; the reader stands before its "[". A
    // literal value is stored with SetWideString, or, when Literal is given,
    // handed to the caller there instead (answers whether there was one).
    bool ReadParameterType(TDBXParameter& Parameter, std::u16string* Literal = nullptr);
    // Reads one description and drops it.
    void SkipParameterType();
    void WriteParameterType(TDBXParameter& Parameter);
    // {"parameters":[n,...]}, descriptions only when the list has parameter
    // 0. An empty or missing list writes {"parameters":[0]}.
    void WriteParameterList(TDBXParameterList* List);

    // Reads the table element of an execute (the reader stands after its
    // "[") and the data object after it, and appends its reader to
    // Message.FTables.
    virtual void ReadTable(TDBXExecuteMessage& Message);

protected:
    std::unique_ptr<TDBXJSonStreamReader> FOwnedReader;
    std::unique_ptr<TDBXJSonStreamWriter> FOwnedWriter;
    std::unique_ptr<TDBXRowBuffer> FOwnedRowBuffer;
    TDBXJSonStreamReader* FDbxStreamReader;
    TDBXJSonStreamWriter* FDbxStreamWriter;
    TDBXRowBuffer* FDbxRowBuffer;
    bool FUsesDbxParameters;
    bool FOwnsStreamers;
};

} // namespace kds
