#pragma once

// A command on a database-style connection: a type and a text, prepared
// into a parameter list, executed with the parameters' values, its results
// read back from the same list. The in-process server command is the one
// kind this program has.
//
// Threads: a command belongs to the thread that uses its connection.

#include <cstdint>
#include <string>

namespace kds {

class TDBXParameterList;
class TDBXReader;

class TDBXCommand {
public:
    TDBXCommand(const TDBXCommand&) = delete;
    TDBXCommand& operator=(const TDBXCommand&) = delete;
    virtual ~TDBXCommand() = default;

    const std::u16string& CommandType() const { return FCommandType; }
    void SetCommandType(std::u16string Type) { FCommandType = std::move(Type); }
    const std::u16string& Text() const { return FText; }
    void SetText(std::u16string Text) { FText = std::move(Text); }
    // Ignored by commands that stream nothing in batches.
    void SetRowSetSize(int64_t Size) { FRowSetSize = Size; }
    void SetMaxBlobSize(int64_t Size) { FMaxBlobSize = Size; }

    virtual void Prepare() = 0;
    // The parameters after Prepare (prepares first when needed).
    virtual TDBXParameterList& GetParameters() = 0;
    virtual void ExecuteUpdate() = 0;
    // Executes and hands out the reader of the last parameter when it is a
    // table (the caller owns it), else nullptr.
    virtual TDBXReader* ExecuteQuery() = 0;
    virtual TDBXReader* GetNextReader() = 0;
    virtual void Close() = 0;

protected:
    TDBXCommand() = default;

    std::u16string FCommandType;
    std::u16string FText;
    int64_t FRowSetSize = -1;
    int64_t FMaxBlobSize = -1;
};

} // namespace kds
