#pragma once

// One command on a client connection: prepared once, executed any number of
// times, closed at the end.
//
//   auto Echo = Connection.Prepare(u"TServerMethods1.EchoString");
//   Echo->Parameters()[0].Value().SetWideString(u"ab");
//   Echo->Execute();
//   Echo->Parameters()[1].Value().GetWideString() == u"ab"
//
// Parameters: as the prepare reply describes them (and as an execute reply
// that changes them describes them afterwards); their values live in the
// command's row. Execute sends the in and in-out values (a value not set is
// null) up to the last of them, out parameters before it as null: the row
// of EchoString("ab") is 22 61 62. A value whose encoding does not fit its
// field inline (more than 65535 bytes) is refused with TDSClientError before
// anything is sent. After Execute the out, in-out and return values read
// from the reply row; a text or byte value longer than its field is fetched
// with more_blob when it is read (so read it before the next request on
// the connection). Table results become TDSClientTableReader objects, each
// holding its first batch; Table(Ordinal) finds the one a table parameter
// names (its field holds the reader's row handle). A new Execute closes and
// frees the readers of the last one.
//
// Errors: TDSRemoteError for an error reply (the command stays usable), the
// other client errors as DSClientErrors.h says. Close sends command_close
// (no reply); the destructor does not send anything.
//
// Threads: the connection's thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"

namespace kds {

class TDSClientConnection;
class TDSClientTableReader;

class TDSClientCommand {
public:
    // Commands are made by TDSClientConnection::Prepare.
    explicit TDSClientCommand(TDSClientConnection& Connection);
    TDSClientCommand(const TDSClientCommand&) = delete;
    TDSClientCommand& operator=(const TDSClientCommand&) = delete;
    ~TDSClientCommand();

    // Sends the prepare and reads the handle and the parameters.
    void Prepare(std::u16string_view Text, std::u16string_view CommandType);
    void Execute();
    void Close();

    int32_t Handle() const { return FHandle; }
    bool Closed() const { return FClosed; }
    TDBXParameterList& Parameters() { return *FParameters; }
    // The "rows" of the last execute reply, or -1.
    int64_t RowsAffected() const { return FRowsAffected; }
    const std::vector<std::unique_ptr<TDSClientTableReader>>& Tables() const { return FTables; }
    // The reader of the table parameter at Ordinal after Execute, or nullptr.
    TDSClientTableReader* Table(int32_t Ordinal);

private:
    class TLongValues;

    void EncodeRequestRow();
    void ReadExecuteReply();
    void ReadParameterList();
    void ReadParameterType(TDBXParameter& Parameter);
    void CloseTables() noexcept;

    TDSClientConnection& FConnection;
    int32_t FHandle = -1;
    bool FClosed = false;
    int64_t FRowsAffected = -1;
    TDBXRowBuffer FRowBuffer;
    TDBXJSonRow FRow;
    std::unique_ptr<TDBXParameterList> FParameters;
    std::unique_ptr<TLongValues> FLongValues;
    std::vector<std::unique_ptr<TDSClientTableReader>> FTables;
};

} // namespace kds
