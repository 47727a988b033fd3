#include "app/Field.h"

#include <cstring>

#include "app/MemoryDataSet.h"
#include "base/NumberFormat.h"
#include "base/TextConvert.h"

namespace kds {

namespace {

// Length of the valid UTF-8 sequence starting at Text[I], or 0 when the bytes
// there do not form one (overlong forms, surrogates and values above U+10FFFF
// included).
std::size_t Utf8SequenceLength(std::string_view Text, std::size_t I) {
    const auto B = [&](std::size_t K) { return static_cast<unsigned char>(Text[K]); };
    const unsigned char C = B(I);
    const std::size_t Left = Text.size() - I;
    if (C < 0x80)
        return 1;
    auto Cont = [&](std::size_t K) { return K < Text.size() && (B(K) & 0xC0) == 0x80; };
    if (C >= 0xC2 && C <= 0xDF)
        return Left >= 2 && Cont(I + 1) ? 2 : 0;
    if (C >= 0xE0 && C <= 0xEF) {
        if (Left < 3 || !Cont(I + 1) || !Cont(I + 2))
            return 0;
        const unsigned char C1 = B(I + 1);
        if (C == 0xE0 && C1 < 0xA0)
            return 0; // overlong
        if (C == 0xED && C1 >= 0xA0)
            return 0; // surrogate
        return 3;
    }
    if (C >= 0xF0 && C <= 0xF4) {
        if (Left < 4 || !Cont(I + 1) || !Cont(I + 2) || !Cont(I + 3))
            return 0;
        const unsigned char C1 = B(I + 1);
        if (C == 0xF0 && C1 < 0x90)
            return 0; // overlong
        if (C == 0xF4 && C1 >= 0x90)
            return 0; // above U+10FFFF
        return 4;
    }
    return 0;
}

bool IsValidUtf8(std::string_view Text) {
    for (std::size_t I = 0; I < Text.size();) {
        const std::size_t N = Utf8SequenceLength(Text, I);
        if (N == 0)
            return false;
        I += N;
    }
    return true;
}

// Text records: a 16-bit length, then Size bytes.
std::uint16_t ReadLength(const std::byte* P) {
    std::uint16_t L;
    std::memcpy(&L, P, sizeof L);
    return L;
}

void WriteLength(std::byte* P, std::uint16_t L) {
    std::memcpy(P, &L, sizeof L);
}

// Float records: a null flag byte, then the double.
constexpr std::size_t FloatDataSize = 1 + sizeof(double);

} // namespace

// ---------------------------------------------------------------- TField

TField::TField(TMemoryDataSet& DataSet, std::string FieldName, TFieldType DataType, int Size,
               int Index, std::size_t Offset)
    : FDataSet(DataSet), FFieldName(std::move(FieldName)), FDataType(DataType), FSize(Size),
      FIndex(Index), FOffset(Offset) {}

TField::~TField() = default;

bool TField::IsNull() const {
    const std::byte* R = FDataSet.CurrentRecord();
    return R == nullptr || IsNullIn(R);
}

std::string TField::AsString() const {
    const std::byte* R = FDataSet.CurrentRecord();
    return R == nullptr ? std::string() : TextIn(R);
}

std::string TField::DisplayText() const {
    const std::byte* R = FDataSet.CurrentRecord();
    return R == nullptr ? std::string() : DisplayTextIn(R);
}

void TField::SetAsString(const std::string& Text) {
    std::byte* R = FDataSet.EditRecord();
    WriteTextIn(R, Text);
    FDataSet.FieldChanged(*this);
}

void TField::Clear() {
    std::byte* R = FDataSet.EditRecord();
    ClearIn(R);
    FDataSet.FieldChanged(*this);
}

void TField::AssignIn(std::byte* Rec, const TField& Source, const std::byte* SourceRec) const {
    if (Source.IsNullIn(SourceRec))
        ClearIn(Rec);
    else
        WriteTextIn(Rec, Source.TextIn(SourceRec));
}

// ---------------------------------------------------------------- TStringField

TStringField::TStringField(TMemoryDataSet& DataSet, std::string FieldName, int Size, int Index,
                           std::size_t Offset)
    : TField(DataSet, std::move(FieldName), TFieldType::ftString, Size, Index, Offset) {}

std::string TStringField::Narrow(std::string_view Text, int Size) {
    const std::size_t Max = Size > 0 ? static_cast<std::size_t>(Size) : 0;
    std::string Valid;
    std::string_view T = Text;
    if (!IsValidUtf8(T)) {
        // Malformed input becomes U+FFFD rather than stored as broken bytes.
        Valid = Utf16ToUtf8(Utf8ToUtf16(T));
        T = Valid;
    }
    if (T.size() <= Max)
        return std::string(T);
    // Cut before the first character that would not fit whole.
    std::size_t Cut = Max;
    while (Cut > 0 && (static_cast<unsigned char>(T[Cut]) & 0xC0) == 0x80)
        --Cut;
    return std::string(T.substr(0, Cut));
}

std::size_t TStringField::DataSize() const {
    return sizeof(std::uint16_t) + static_cast<std::size_t>(Size());
}

std::string_view TStringField::ViewIn(const std::byte* Rec) const {
    const std::byte* P = Rec + Offset();
    return std::string_view(reinterpret_cast<const char*>(P + sizeof(std::uint16_t)),
                            ReadLength(P));
}

bool TStringField::IsNullIn(const std::byte* Rec) const {
    return ReadLength(Rec + Offset()) == 0;
}

std::string TStringField::TextIn(const std::byte* Rec) const {
    return std::string(ViewIn(Rec));
}

void TStringField::WriteTextIn(std::byte* Rec, std::string_view Text) const {
    const std::string Stored = Narrow(Text, Size());
    std::byte* P = Rec + Offset();
    WriteLength(P, static_cast<std::uint16_t>(Stored.size()));
    if (!Stored.empty())
        std::memcpy(P + sizeof(std::uint16_t), Stored.data(), Stored.size());
}

void TStringField::ClearIn(std::byte* Rec) const {
    WriteLength(Rec + Offset(), 0);
}

int TStringField::CompareIn(const std::byte* A, const std::byte* B) const {
    const int C = ViewIn(A).compare(ViewIn(B));
    return C < 0 ? -1 : (C > 0 ? 1 : 0);
}

void TStringField::AssignIn(std::byte* Rec, const TField& Source,
                            const std::byte* SourceRec) const {
    if (Source.DataType() == TFieldType::ftString)
        WriteTextIn(Rec, static_cast<const TStringField&>(Source).ViewIn(SourceRec));
    else
        TField::AssignIn(Rec, Source, SourceRec);
}

// ---------------------------------------------------------------- TFloatField

TFloatField::TFloatField(TMemoryDataSet& DataSet, std::string FieldName, int Index,
                         std::size_t Offset)
    : TField(DataSet, std::move(FieldName), TFieldType::ftFloat, 0, Index, Offset) {}

std::string TFloatField::FormatDisplayText(std::optional<double> Value) {
    if (!Value)
        return {};
    return FloatToStrGeneral(*Value, TNumberFormat::DecimalSeparator());
}

std::optional<double> TFloatField::AsFloat() const {
    const std::byte* R = DataSet().CurrentRecord();
    return R == nullptr ? std::nullopt : FloatIn(R);
}

void TFloatField::SetAsFloat(double Value) {
    std::byte* R = DataSet().EditRecord();
    WriteFloatIn(R, Value);
    DataSet().FieldChanged(*this);
}

std::optional<double> TFloatField::FloatIn(const std::byte* Rec) const {
    const std::byte* P = Rec + Offset();
    if (P[0] == std::byte{0})
        return std::nullopt;
    double V;
    std::memcpy(&V, P + 1, sizeof V);
    return V;
}

void TFloatField::WriteFloatIn(std::byte* Rec, double Value) const {
    std::byte* P = Rec + Offset();
    P[0] = std::byte{1};
    std::memcpy(P + 1, &Value, sizeof Value);
}

std::size_t TFloatField::DataSize() const {
    return FloatDataSize;
}

bool TFloatField::IsNullIn(const std::byte* Rec) const {
    return Rec[Offset()] == std::byte{0};
}

std::string TFloatField::TextIn(const std::byte* Rec) const {
    return FormatDisplayText(FloatIn(Rec));
}

void TFloatField::WriteTextIn(std::byte* Rec, std::string_view Text) const {
    if (Text.empty()) {
        ClearIn(Rec);
        return;
    }
    double V = 0;
    if (!TryTextToFloat(Text, TNumberFormat::DecimalSeparator(), V))
        throw EDatabaseError("'" + std::string(Text) +
                             "' is not a valid floating point value for field '" + FieldName() +
                             "'");
    WriteFloatIn(Rec, V);
}

void TFloatField::ClearIn(std::byte* Rec) const {
    std::memset(Rec + Offset(), 0, FloatDataSize);
}

int TFloatField::CompareIn(const std::byte* A, const std::byte* B) const {
    const std::optional<double> X = FloatIn(A);
    const std::optional<double> Y = FloatIn(B);
    if (!X || !Y)
        return (X ? 1 : 0) - (Y ? 1 : 0);
    return *X < *Y ? -1 : (*X > *Y ? 1 : 0);
}

void TFloatField::AssignIn(std::byte* Rec, const TField& Source, const std::byte* SourceRec) const {
    if (Source.DataType() == TFieldType::ftFloat) {
        const std::optional<double> V = static_cast<const TFloatField&>(Source).FloatIn(SourceRec);
        if (V)
            WriteFloatIn(Rec, *V);
        else
            ClearIn(Rec);
    } else {
        TField::AssignIn(Rec, Source, SourceRec);
    }
}

} // namespace kds
