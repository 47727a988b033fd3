#include "support/TableReply.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "base/TextConvert.h"
#include "data/TDBXRowBuffer.h"

namespace kds::test {

size_t Find(const TBytes& Bytes, std::string_view Needle, size_t From) {
    const std::string_view Hay(reinterpret_cast<const char*>(Bytes.data()), Bytes.size());
    return Hay.find(Needle, From);
}

TBatch ReadBatch(const TBytes& Bytes, size_t& At) {
    TBatch Batch;
    const std::string_view Start = "{\"data\":[";
    if (Find(Bytes, Start, At) != At) {
        ADD_FAILURE() << "no data object at " << At << " of " << Show(Bytes);
        return Batch;
    }
    size_t P = At + Start.size();
    std::string Number;
    while (P < Bytes.size() && (Bytes[P] == '-' || (Bytes[P] >= '0' && Bytes[P] <= '9')))
        Number += static_cast<char>(Bytes[P++]);
    while (P < Bytes.size() && Bytes[P] == ' ')
        ++P;
    Batch.Count = std::stoi(Number);
    const size_t Length = static_cast<size_t>(Batch.Count < 0 ? -Batch.Count : Batch.Count);
    if (P < Bytes.size() && Bytes[P] == ',') {
        ++P;
        if (P + Length > Bytes.size()) {
            ADD_FAILURE() << "data object runs past the reply";
            return Batch;
        }
        Batch.Rows.assign(Bytes.begin() + static_cast<std::ptrdiff_t>(P),
                          Bytes.begin() + static_cast<std::ptrdiff_t>(P + Length));
        P += Length;
    } else if (Length != 0) {
        ADD_FAILURE() << "data object of " << Batch.Count << " bytes without them";
    }
    if (Find(Bytes, "]}", P) != P)
        ADD_FAILURE() << "data object not closed at " << P;
    At = P + 2;
    return Batch;
}

TDecodedRows DecodeRows(const TBytes& Rows, std::string_view Kinds) {
    TDecodedRows Out;
    if (Rows.empty())
        return Out;
    const auto Columns = static_cast<int32_t>(Kinds.size());
    TDBXRowBuffer B;
    B.SetColumnCount(Columns);
    B.SetReadBytes(Rows.data(), static_cast<int32_t>(Rows.size()));
    bool More = true;
    while (More) {
        const int32_t Start = B.RowStart(B.RowIndex());
        std::vector<std::string> Row;
        for (int32_t I = 0; I < Columns; ++I) {
            B.GoToField(I);
            bool Present = true;
            std::string Field;
            switch (Kinds[static_cast<size_t>(I)]) {
            case 'I': {
                int64_t V = 0;
                Present = B.ReadInt64(V);
                Field = std::to_string(V);
                break;
            }
            case 'B': {
                bool V = false;
                Present = B.ReadBoolean(V);
                Field = V ? "true" : "false";
                break;
            }
            default: {
                std::u16string V;
                Present = B.ReadWideString(V);
                Field = Utf16ToUtf8(V);
                break;
            }
            }
            Row.push_back(Present ? Field : "null");
        }
        More = B.NextRow();
        const int32_t End = More ? B.RowStart(B.RowIndex()) : static_cast<int32_t>(Rows.size());
        Out.Rows.push_back(std::move(Row));
        Out.RowBytes.push_back(End - Start);
    }
    return Out;
}

TBytes TextField(std::string_view Text) {
    // The header is sized first and the text copied into place: g++ 12 at
    // -O3 misreads an insert after push_back as writing past the buffer.
    const bool Short = Text.size() < 32;
    TBytes Field(Text.size() + (Short ? 1 : 3));
    if (Short) {
        Field[0] = static_cast<uint8_t>(0x20 + Text.size());
    } else {
        Field[0] = 0x10;
        Field[1] = static_cast<uint8_t>(Text.size() >> 8);
        Field[2] = static_cast<uint8_t>(Text.size());
    }
    std::copy(Text.begin(), Text.end(), Field.end() - static_cast<std::ptrdiff_t>(Text.size()));
    return Field;
}

} // namespace kds::test
