#include "kdsterm/TermOutput.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXDataTypes.h"
#include "data/DBXJSON.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "data/TDBXValue.h"

namespace kds {

namespace {

namespace DT = TDBXDataTypes;

bool IsBinary(const TDBXValueType& Type) {
    switch (Type.DataType()) {
    case DT::BlobType:
    case DT::BytesType:
    case DT::VarBytesType:
    case DT::AdtType:
    case DT::ArrayType:
        return Type.SubType() != TDBXSubDataTypes::MemoSubType &&
               Type.SubType() != TDBXSubDataTypes::HMemoSubType &&
               Type.SubType() != TDBXSubDataTypes::WideMemoSubType;
    case DT::BinaryBlobType:
    case DT::VariantType:
        return true;
    default:
        return false;
    }
}

std::string Hex(const std::vector<uint8_t>& Bytes) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    for (size_t I = 0; I < Bytes.size(); ++I) {
        if (I > 0)
            Text.push_back(' ');
        Text.push_back(Digits[Bytes[I] >> 4]);
        Text.push_back(Digits[Bytes[I] & 0x0F]);
    }
    return Text;
}

// Characters of UTF-8 text (continuation bytes do not count).
size_t Width(const std::string& Text) {
    size_t N = 0;
    for (const char C : Text)
        if ((static_cast<unsigned char>(C) & 0xC0) != 0x80)
            ++N;
    return N;
}

std::string OneLine(const std::string& Text) {
    std::string Line;
    for (const char C : Text) {
        if (C == '\n')
            Line += "\\n";
        else if (C == '\t')
            Line += "\\t";
        else if (C == '\r')
            Line += "\\r";
        else
            Line.push_back(C);
    }
    return Line;
}

template <typename T> T ParseInteger(const std::string& Text, const TDBXParameter& Parameter) {
    int64_t Value = 0;
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Error] = std::from_chars(Text.data(), End, Value);
    if (Error != std::errc() || Ptr != End || Text.empty() ||
        Value < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        Value > static_cast<int64_t>(std::numeric_limits<T>::max()))
        throw TDSArgumentError("\"" + Text + "\" is not a whole number that " +
                               Utf16ToUtf8(Parameter.Name()) + " (" +
                               DataTypeName(Parameter.DataType()) + ") takes");
    return static_cast<T>(Value);
}

double ParseReal(const std::string& Text, const TDBXParameter& Parameter) {
    // strtod follows the C locale, which kdsterm never changes: "." always.
    char* End = nullptr;
    const double Value = std::strtod(Text.c_str(), &End);
    if (Text.empty() || End != Text.c_str() + Text.size())
        throw TDSArgumentError("\"" + Text + "\" is not a number that " +
                               Utf16ToUtf8(Parameter.Name()) + " takes");
    return Value;
}

} // namespace

std::string ValueText(TDBXValue& Value) {
    const TDBXValueType& Type = Value.ValueType();
    if (Type.DataType() == DT::CallbackType)
        return "callback";
    if (Value.IsNull())
        return "null";
    switch (Type.DataType()) {
    case DT::JsonValueType:
        return Utf16ToUtf8(Value.GetJSONValue()->ToString());
    case DT::BooleanType:
        return Value.GetBoolean() ? "true" : "false";
    default:
        break;
    }
    if (IsBinary(Type))
        return Hex(Value.GetBytes());
    return Utf16ToUtf8(Value.AsString());
}

int64_t PrintTable(TDBXReader& Reader, std::ostream& Out) {
    const int32_t Columns = Reader.ColumnCount();
    std::vector<std::vector<std::string>> Lines(1);
    for (int32_t C = 0; C < Columns; ++C)
        Lines[0].push_back(OneLine(Utf16ToUtf8(Reader.ValueType(C).Name())));
    while (Reader.Next()) {
        std::vector<std::string>& Line = Lines.emplace_back();
        for (int32_t C = 0; C < Columns; ++C)
            Line.push_back(OneLine(ValueText(Reader.Value(C))));
    }
    std::vector<size_t> Widths(static_cast<size_t>(Columns), 0);
    for (const auto& Line : Lines)
        for (size_t C = 0; C < Line.size(); ++C)
            Widths[C] = std::max(Widths[C], Width(Line[C]));
    for (const auto& Line : Lines) {
        std::string Text;
        for (size_t C = 0; C < Line.size(); ++C) {
            Text += Line[C];
            if (C + 1 < Line.size())
                Text.append(Widths[C] - Width(Line[C]) + 2, ' ');
        }
        Out << Text << '\n';
    }
    return static_cast<int64_t>(Lines.size()) - 1;
}

void SetArgument(TDBXParameter& Parameter, const std::string& Text) {
    TDBXWritableValue& V = Parameter.Value();
    switch (Parameter.DataType()) {
    case DT::AnsiStringType:
    case DT::WideStringType:
        V.SetWideString(Utf8ToUtf16(Text));
        return;
    case DT::BlobType:
        if (!IsBinary(Parameter)) {
            V.SetWideString(Utf8ToUtf16(Text));
            return;
        }
        break;
    case DT::BooleanType:
        if (Text == "true" || Text == "false") {
            V.SetBoolean(Text == "true");
            return;
        }
        throw TDSArgumentError(Utf16ToUtf8(Parameter.Name()) + " takes true or false, not \"" +
                               Text + "\"");
    case DT::Int8Type:
        V.SetInt8(ParseInteger<int8_t>(Text, Parameter));
        return;
    case DT::UInt8Type:
        V.SetUInt8(ParseInteger<uint8_t>(Text, Parameter));
        return;
    case DT::Int16Type:
        V.SetInt16(ParseInteger<int16_t>(Text, Parameter));
        return;
    case DT::UInt16Type:
        V.SetUInt16(ParseInteger<uint16_t>(Text, Parameter));
        return;
    case DT::Int32Type:
        V.SetInt32(ParseInteger<int32_t>(Text, Parameter));
        return;
    case DT::Int64Type:
        V.SetInt64(ParseInteger<int64_t>(Text, Parameter));
        return;
    case DT::DoubleType:
        V.SetDouble(ParseReal(Text, Parameter));
        return;
    case DT::SingleType:
        V.SetSingle(static_cast<float>(ParseReal(Text, Parameter)));
        return;
    case DT::JsonValueType: {
        std::unique_ptr<TJSONValue> Json = TJSONObject::ParseJSONValue(Text);
        if (!Json)
            throw TDSArgumentError(Utf16ToUtf8(Parameter.Name()) + " takes JSON; \"" + Text +
                                   "\" does not parse");
        V.SetJSONValue(Json.release(), true);
        return;
    }
    default:
        break;
    }
    throw TDSArgumentError("kdsterm cannot pass " + Utf16ToUtf8(Parameter.Name()) + " (" +
                           DataTypeName(Parameter.DataType()) + ")");
}

} // namespace kds
