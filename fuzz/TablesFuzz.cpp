// Feeds arbitrary bytes to a connection as the tables a terminal sends with
// an execute, and as its answers to what the server asks while it reads
// them ("next" for later batches, "more_blob" for long values). The first
// byte picks how the bytes arrive (chunk size), whether they start inside
// the table element of a ready-made execute request or are the whole
// stream, and whether the server method sends the first table back (so that
// a peer's rows are streamed out again). The method walks every row of
// every table and reads every value. Whatever comes in must end in replies,
// error replies or the end of the connection: never a crash, a hang, an
// overread, a leak or an allocation beyond the bounds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/DBXError.h"
#include "data/DBXDataTypes.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRow.h"
#include "data/TDBXValue.h"
#include "server/wire/DBXMessages.h"
#include "support/WireStack.h"

using namespace kds;

namespace {

const std::string Head = "{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS."
                         "ServerMethod\",\"T.Tables\"]},{\"data\":[2,\x61\x01]},{\"table\":[";

void Walk(TDBXReader& Table) {
    for (int32_t Rows = 0; Rows < 100000 && Table.Next(); ++Rows)
        for (int32_t I = 0; I < Table.ColumnCount(); ++I) {
            try {
                TDBXValue& Value = Table.Value(I);
                if (!Value.IsNull())
                    Value.AsString();
            } catch (const TDBXError&) {
            } catch (const std::exception&) {
                // Conversions of a peer's values may fail their own way.
            }
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 1)
        return 0;
    const uint8_t Mode = Data[0];
    std::unique_ptr<TDBXRow> Row;
    std::unique_ptr<TDBXParameterList> List;
    test::TWireStack Stack;
    const int32_t Chunks[] = {0, 1, 3, 64};
    Stack.Channel().SetChunkSize(Chunks[Mode & 3]);
    Row = Stack.Fake().Output().CreateDbxRow();
    const bool SendBack = (Mode & 0x08) != 0;
    Stack.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
        M.FHasOutOrReturnParameters = false;
        if (SendBack && !M.FTables.empty()) {
            List = std::make_unique<TDBXParameterList>(nullptr, Row.get());
            List->SetCount(1);
            TDBXParameter& Result = List->Parameter(0);
            Result.SetName(u"ReturnParameter");
            Result.SetDataType(TDBXDataTypes::TableType);
            Result.SetParameterDirection(TDBXParameterDirections::ReturnParameter);
            Result.Value().SetDBXReader(M.FTables.front().release(), true);
            M.FParameters = List.get();
            M.FHasOutOrReturnParameters = true;
            M.FHasDBXTableReaderOutOrReturnParameter = true;
            return;
        }
        for (auto& Table : M.FTables)
            if (Table)
                Walk(*Table);
    };
    if ((Mode & 0x04) != 0)
        Stack.Channel().Feed(Head);
    Stack.Channel().Feed(std::vector<uint8_t>(Data + 1, Data + Size));
    Stack.Serve();
    return 0;
}
