// Decodes arbitrary bytes as rows of typed values. The first byte gives the
// column count (1 to 8) and the BCD format, the next bytes one column type
// each; the rest is the row data. Every column of every row is read through
// its value (so skipping, generations and the value classes run too), and
// whatever decoded is written back into a second buffer and read again.
// Bad input must end in TDBXError, never in a crash, an overread or a leak.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/DBXError.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"

using namespace kds;

namespace {

struct TColumnType {
    int32_t DataType;
    int32_t SubType;
};

const TColumnType Types[] = {{1, 0},  {2, 0},  {3, 0},  {3, 22}, {3, 32}, {4, 0},  {5, 0},
                             {6, 0},  {7, 0},  {7, 27}, {8, 0},  {10, 0}, {11, 0}, {12, 0},
                             {18, 0}, {23, 0}, {24, 0}, {25, 0}, {26, 0}, {27, 0}, {28, 0},
                             {29, 0}, {33, 0}, {36, 0}, {37, 0}, {38, 0}, {17, 0}};
constexpr size_t TypeCount = sizeof Types / sizeof Types[0];

void Touch(TDBXWritableValue& V) {
    if (V.IsNull())
        return;
    switch (V.ValueType().DataType()) {
    case 1:
    case 26:
        V.GetString();
        break;
    case 2:
        V.GetDate();
        break;
    case 3:
    case 33:
        if (V.ValueType().SubType() == 0 || V.ValueType().DataType() == 33)
            V.GetBytes();
        else
            V.AsString();
        break;
    case 36:
        V.GetTimeStampOffset();
        break;
    case 37:
        V.GetJSONValue();
        break;
    case 38:
        V.GetCallbackValue();
        break;
    case 23:
    case 17:
        break;
    default:
        V.AsString();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 2)
        return 0;
    const int32_t Columns = 1 + (Data[0] & 7);
    const int32_t BcdFormat = (Data[0] >> 3) & 1;
    if (Size < static_cast<size_t>(1 + Columns))
        return 0;
    const uint8_t* Row = Data + 1 + Columns;
    const int32_t RowSize = static_cast<int32_t>(Size - 1 - Columns);

    TDBXRowBuffer In;
    In.SetColumnCount(Columns);
    TDBXJSonRow InRow(nullptr, &In);
    InRow.SetBcdFormat(BcdFormat);
    TDBXRowBuffer Out;
    TDBXJSonRow OutRow(nullptr, &Out);
    TDBXParameterList Params(nullptr, &InRow);
    for (int32_t C = 0; C < Columns; ++C) {
        const TColumnType& T = Types[Data[1 + C] % TypeCount];
        auto P = std::make_unique<TDBXParameter>();
        P->SetDataType(T.DataType);
        P->SetSubType(T.SubType);
        P->SetParameterDirection(TDBXParameterDirections::InOutParameter);
        Params.AddParameter(std::move(P));
    }
    In.SetReadBytes(Row, RowSize);
    for (int Rows = 0; Rows < 64; ++Rows) {
        try {
            // Read the columns back to front, so that every read restarts
            // from the row start and skips.
            for (int32_t C = Columns - 1; C >= 0; --C)
                Touch(Params[C].Value());
            // Write what decoded into the second buffer and read it again.
            Out.StartOver();
            for (int32_t C = 0; C < Columns; ++C) {
                TDBXWritableValue& V = Params[C].Value();
                V.MarkAsPending();
                V.SetDbxRow(&OutRow);
                try {
                    V.Flush();
                } catch (const TDBXError&) {
                    Out.WriteNull();
                }
                V.SetDbxRow(&InRow);
            }
            Out.BeginRead();
            Out.SetColumnCount(Columns);
            for (int32_t C = 0; C < Columns; ++C)
                Out.SkipField();
            if (!In.NextRow())
                break;
        } catch (const TDBXError&) {
            break;
        }
    }
    return 0;
}
