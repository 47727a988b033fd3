// Feeds arbitrary bytes to the JSON parser in UTF-8 and in byte mode. Whatever
// parses must write a pure ASCII byte form that parses again, in either mode,
// to the same byte form; a clone must write it too. Malformed UTF-8 may raise
// TJSONException (UTF-8 mode only); nothing else may escape.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/NumberFormat.h"
#include "data/DBXJSON.h"

using namespace kds;

namespace {

void CheckRoundTrip(const TJSONValue& Value) {
    const std::vector<uint8_t> First = Value.ToBytes();
    if (static_cast<int32_t>(First.size()) > Value.EstimatedByteSize())
        std::abort();
    for (const uint8_t B : First)
        if (B >= 0x80)
            std::abort();
    for (const bool IsUTF8 : {true, false}) {
        std::unique_ptr<TJSONValue> Again = TJSONObject::ParseJSONValue(First, 0, IsUTF8);
        if (!Again || Again->ToBytes() != First)
            std::abort();
    }
    if (Value.Clone()->ToBytes() != First)
        std::abort();
    (void)Value.ToString();
    if (auto* Number = dynamic_cast<const TJSONNumber*>(&Value)) {
        try {
            (void)Number->Value();
        } catch (const EConvertError&) {
            // A number out of the double's range does not convert.
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size > (1u << 20))
        return 0;
    const std::vector<uint8_t> Bytes(Data, Data + Size);
    for (const bool IsUTF8 : {true, false}) {
        std::unique_ptr<TJSONValue> Value;
        try {
            Value = TJSONObject::ParseJSONValue(Bytes, 0, IsUTF8);
        } catch (const TJSONException&) {
            if (!IsUTF8)
                std::abort(); // byte mode has no encoding to get wrong
            continue;
        }
        if (Value)
            CheckRoundTrip(*Value);
    }
    // A window inside the data, with absolute Offset and End.
    if (Size >= 2) {
        const int32_t Offset = Data[0] % static_cast<int32_t>(Size);
        const int32_t End = Offset + Data[1] % (static_cast<int32_t>(Size) - Offset + 1);
        try {
            if (std::unique_ptr<TJSONValue> Value =
                    TJSONObject::ParseJSONValue(Bytes, Offset, End, true))
                CheckRoundTrip(*Value);
        } catch (const TJSONException&) {
        }
    }
    try {
        TJSONObject Target;
        if (Target.Parse(Bytes, 0) > 0)
            CheckRoundTrip(Target);
    } catch (const TJSONException&) {
    }
    return 0;
}
