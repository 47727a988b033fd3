#include "data/DBXJSON.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

#include "base/AsciiText.h"
#include "base/NumberFormat.h"
#include "base/TextConvert.h"

namespace kds {

namespace {

std::u16string AsciiToUtf16(const std::string& Text) {
    return std::u16string(Text.begin(), Text.end());
}

// How each ASCII code unit is written inside a string's byte form: 0 raw,
// else the character after the backslash ('u' for a \uXXXX escape).
struct TEscapeTable {
    char Escape[128];
    constexpr TEscapeTable() : Escape() {
        for (int I = 0; I < 32; ++I)
            Escape[I] = 'u';
        Escape[8] = 'b';
        Escape[9] = 't';
        Escape[10] = 'n';
        Escape[12] = 'f';
        Escape[13] = 'r';
        Escape[int('"')] = '"';
        Escape[int('/')] = '/';
        Escape[int('\\')] = '\\';
    }
};
constexpr TEscapeTable EscapeTable;

int32_t WriteLiteral(uint8_t* Data, int32_t Offset, const char* Text, int32_t Length) {
    std::memcpy(Data + Offset, Text, static_cast<size_t>(Length));
    return Offset + Length;
}

int32_t WriteQuoted(const std::u16string& Text, uint8_t* Data, int32_t Offset) {
    uint8_t* Out = Data + Offset;
    *Out++ = '"';
    for (const char16_t Ch : Text) {
        if (Ch < 128) {
            const char E = EscapeTable.Escape[Ch];
            if (E == 0) {
                *Out++ = static_cast<uint8_t>(Ch);
                continue;
            }
            *Out++ = '\\';
            *Out++ = static_cast<uint8_t>(E);
            if (E != 'u')
                continue;
        } else {
            *Out++ = '\\';
            *Out++ = 'u';
        }
        *Out++ = static_cast<uint8_t>(UpperHexDigits[(Ch >> 12) & 0xF]);
        *Out++ = static_cast<uint8_t>(UpperHexDigits[(Ch >> 8) & 0xF]);
        *Out++ = static_cast<uint8_t>(UpperHexDigits[(Ch >> 4) & 0xF]);
        *Out++ = static_cast<uint8_t>(UpperHexDigits[Ch & 0xF]);
    }
    *Out++ = '"';
    return static_cast<int32_t>(Out - Data);
}

// Frees a child handed to a container, honouring its Owned flag.
void FreeIfOwned(const TJSONAncestor* Node) {
    if (Node && Node->Owned())
        delete Node;
}

// Makes NewItems the container's list and frees the items of the old list
// that it no longer holds (when Owned). Never fails: the quick lookup needs
// memory, and without it the old items are looked up one by one.
template <typename TItem>
void ReplaceList(std::vector<TItem*>& Items, std::vector<TItem*> NewItems) {
    NewItems.erase(std::remove(NewItems.begin(), NewItems.end(), nullptr), NewItems.end());
    const std::vector<TItem*> Old = std::exchange(Items, std::move(NewItems));
    std::vector<const TItem*> Sorted;
    constexpr size_t LinearLimit = 16;
    if (Old.size() > LinearLimit) {
        try {
            Sorted.assign(Items.begin(), Items.end());
            std::sort(Sorted.begin(), Sorted.end(), std::less<const TItem*>());
        } catch (const std::bad_alloc&) {
            Sorted.clear();
        }
    }
    const bool Quick = !Sorted.empty() || Items.empty();
    for (const TItem* Item : Old) {
        const bool Stays = Quick ? std::binary_search(Sorted.begin(), Sorted.end(), Item,
                                                      std::less<const TItem*>())
                                 : std::find(Items.begin(), Items.end(), Item) != Items.end();
        if (!Stays)
            FreeIfOwned(Item);
    }
}

// The raw pointers of a list handed over in unique_ptrs. Should the list
// itself not fit in memory, the unique_ptrs still free every item.
template <typename TItem>
std::vector<TItem*> ReleaseAll(std::vector<std::unique_ptr<TItem>>& Handed) {
    std::vector<TItem*> Raw;
    Raw.reserve(Handed.size());
    for (std::unique_ptr<TItem>& Item : Handed)
        Raw.push_back(Item.release());
    return Raw;
}

// Objects and arrays share one layout: an opening byte, the items joined by
// ",", a closing byte.
template <typename TItem> int32_t ListEstimatedByteSize(const std::vector<TItem*>& Items) {
    if (Items.empty())
        return 2;
    int32_t Size = 1;
    for (const TItem* Item : Items)
        Size += Item->EstimatedByteSize() + 1;
    return Size;
}

template <typename TItem>
int32_t ListToBytes(const std::vector<TItem*>& Items, uint8_t Open, uint8_t Close, uint8_t* Data,
                    int32_t Offset) {
    Data[Offset++] = Open;
    for (size_t I = 0; I < Items.size(); ++I) {
        if (I > 0)
            Data[Offset++] = ',';
        Offset = Items[I]->ToBytes(Data, Offset);
    }
    Data[Offset++] = Close;
    return Offset;
}

template <typename TItem>
std::u16string ListToString(const std::vector<TItem*>& Items, char16_t Open, char16_t Close) {
    std::u16string Text(1, Open);
    for (size_t I = 0; I < Items.size(); ++I) {
        if (I > 0)
            Text.push_back(u',');
        Text.append(Items[I]->ToString());
    }
    Text.push_back(Close);
    return Text;
}

} // namespace

void TJSONNodeDeleter::operator()(const TJSONAncestor* Node) const noexcept {
    FreeIfOwned(Node);
}

// --- TJSONAncestor ---------------------------------------------------------

std::u16string TJSONAncestor::Value() const {
    return std::u16string();
}

std::vector<uint8_t> TJSONAncestor::ToBytes() const {
    std::vector<uint8_t> Bytes(static_cast<size_t>(EstimatedByteSize()));
    Bytes.resize(static_cast<size_t>(ToBytes(Bytes.data(), 0)));
    return Bytes;
}

void TJSONAncestor::AddDescendant(TJSONAncestor* Descendant) {
    FreeIfOwned(Descendant);
}

// --- TJSONString -----------------------------------------------------------

std::u16string TJSONString::Value() const {
    return FStrBuffer;
}

int32_t TJSONString::EstimatedByteSize() const {
    return FHasBuffer ? 6 * static_cast<int32_t>(FStrBuffer.size()) + 2 : 4;
}

int32_t TJSONString::ToBytes(uint8_t* Data, int32_t Offset) const {
    if (!FHasBuffer)
        return WriteLiteral(Data, Offset, "null", 4);
    return WriteQuoted(FStrBuffer, Data, Offset);
}

std::u16string TJSONString::ToString() const {
    if (!FHasBuffer)
        return std::u16string();
    std::u16string Text;
    Text.reserve(FStrBuffer.size() + 2);
    Text.push_back(u'"');
    Text.append(FStrBuffer);
    Text.push_back(u'"');
    return Text;
}

void TJSONString::AddChar(char16_t Ch) {
    FHasBuffer = true;
    FStrBuffer.push_back(Ch);
}

TJSONString* TJSONString::DoClone() const {
    return FHasBuffer ? new TJSONString(FStrBuffer) : new TJSONString();
}

// --- TJSONNumber -----------------------------------------------------------

TJSONNumber::TJSONNumber(double Value)
    : TJSONString(AsciiToUtf16(FloatToStrGeneral(Value, u'.'))) {}

TJSONNumber::TJSONNumber(int32_t Value) : TJSONString(AsciiToUtf16(std::to_string(Value))) {}

TJSONNumber::TJSONNumber(int64_t Value) : TJSONString(AsciiToUtf16(std::to_string(Value))) {}

std::u16string TJSONNumber::Value() const {
    return Utf8ToUtf16(FloatToStrGeneral(AsDouble(), TNumberFormat::DecimalSeparator()));
}

int32_t TJSONNumber::EstimatedByteSize() const {
    return static_cast<int32_t>(FStrBuffer.size());
}

int32_t TJSONNumber::ToBytes(uint8_t* Data, int32_t Offset) const {
    uint8_t* Out = Data + Offset;
    for (const char16_t Ch : FStrBuffer)
        *Out++ = static_cast<uint8_t>(Ch);
    return static_cast<int32_t>(Out - Data);
}

std::u16string TJSONNumber::ToString() const {
    return FStrBuffer;
}

double TJSONNumber::AsDouble() const {
    const std::string Text = Utf16ToUtf8(FStrBuffer);
    double Result;
    if (!TryTextToFloat(Text, u'.', Result))
        throw EConvertError("'" + Text + "' is not a valid floating point value");
    return Result;
}

int32_t TJSONNumber::AsInt() const {
    const std::string Text = Utf16ToUtf8(FStrBuffer);
    int32_t Result;
    if (!TryTextToInt32(Text, Result))
        throw EConvertError("'" + Text + "' is not a valid integer value");
    return Result;
}

TJSONNumber* TJSONNumber::DoClone() const {
    return new TJSONNumber(FStrBuffer);
}

// --- TJSONPair -------------------------------------------------------------

TJSONPair::TJSONPair(TJSONString* Str, TJSONValue* Value) : FJsonString(Str), FJsonValue(Value) {}

TJSONPair::TJSONPair(const std::u16string& Str, TJSONValue* Value)
    : TJSONPair(Str, TJSONNodePtr<TJSONValue>(Value)) {}

// The value stays in its handle until the name exists, so that a failure to
// make the name frees it.
TJSONPair::TJSONPair(const std::u16string& Str, TJSONNodePtr<TJSONValue> Value)
    : FJsonString(new TJSONString(Str)), FJsonValue(Value.release()) {}

TJSONPair::TJSONPair(const std::u16string& Str, const std::u16string& Value) {
    auto Name = std::make_unique<TJSONString>(Str);
    FJsonValue = new TJSONString(Value);
    FJsonString = Name.release();
}

TJSONPair::~TJSONPair() {
    delete FJsonString;
    FreeIfOwned(FJsonValue);
}

// A missing part is written as null, so that the byte form stays parseable
// in length and never touches a missing object.
int32_t TJSONPair::EstimatedByteSize() const {
    return (FJsonString ? FJsonString->EstimatedByteSize() : 4) +
           (FJsonValue ? FJsonValue->EstimatedByteSize() : 4) + 1;
}

int32_t TJSONPair::ToBytes(uint8_t* Data, int32_t Offset) const {
    Offset =
        FJsonString ? FJsonString->ToBytes(Data, Offset) : WriteLiteral(Data, Offset, "null", 4);
    Data[Offset++] = ':';
    return FJsonValue ? FJsonValue->ToBytes(Data, Offset) : WriteLiteral(Data, Offset, "null", 4);
}

std::u16string TJSONPair::ToString() const {
    if (!FJsonString || !FJsonValue)
        return std::u16string();
    return FJsonString->ToString() + u":" + FJsonValue->ToString();
}

void TJSONPair::SetJsonString(TJSONString* Str) {
    if (Str == FJsonString)
        return;
    delete FJsonString;
    FJsonString = Str;
}

void TJSONPair::SetJsonValue(TJSONValue* Value) {
    if (Value == FJsonValue)
        return;
    FreeIfOwned(FJsonValue);
    FJsonValue = Value;
}

void TJSONPair::AddDescendant(TJSONAncestor* Descendant) {
    if (!FJsonString) {
        if (auto* Str = dynamic_cast<TJSONString*>(Descendant)) {
            FJsonString = Str;
            return;
        }
    } else if (auto* Value = dynamic_cast<TJSONValue*>(Descendant)) {
        SetJsonValue(Value);
        return;
    }
    FreeIfOwned(Descendant);
}

TJSONPair* TJSONPair::DoClone() const {
    std::unique_ptr<TJSONString> Name(FJsonString ? FJsonString->Clone() : nullptr);
    std::unique_ptr<TJSONValue> Value(FJsonValue ? FJsonValue->Clone() : nullptr);
    return new TJSONPair(Name.release(), Value.release());
}

// --- TJSONObject -----------------------------------------------------------

TJSONObject::TJSONObject(TJSONPair* Pair) {
    AddPair(Pair);
}

TJSONObject::~TJSONObject() {
    for (const TJSONPair* Pair : FMembers)
        FreeIfOwned(Pair);
}

int32_t TJSONObject::EstimatedByteSize() const {
    return ListEstimatedByteSize(FMembers);
}

int32_t TJSONObject::ToBytes(uint8_t* Data, int32_t Offset) const {
    return ListToBytes(FMembers, '{', '}', Data, Offset);
}

std::u16string TJSONObject::ToString() const {
    return ListToString(FMembers, u'{', u'}');
}

TJSONPair* TJSONObject::Get(int32_t Index) const {
    if (Index < 0 || Index >= Size())
        return nullptr;
    return FMembers[static_cast<size_t>(Index)];
}

TJSONPair* TJSONObject::Get(const std::u16string& PairName) const {
    for (TJSONPair* Pair : FMembers)
        if (Pair->JsonString() && Pair->JsonString()->Text() == PairName)
            return Pair;
    return nullptr;
}

TJSONNodePtr<TJSONPair> TJSONObject::RemovePair(const std::u16string& PairName) {
    for (auto It = FMembers.begin(); It != FMembers.end(); ++It) {
        if ((*It)->JsonString() && (*It)->JsonString()->Text() == PairName) {
            TJSONNodePtr<TJSONPair> Pair(*It);
            FMembers.erase(It);
            return Pair;
        }
    }
    return nullptr;
}

TJSONObject* TJSONObject::AddPair(TJSONPair* Pair) {
    return AddPair(TJSONNodePtr<TJSONPair>(Pair));
}

TJSONObject* TJSONObject::AddPair(TJSONNodePtr<TJSONPair> Pair) {
    if (Pair) {
        FMembers.push_back(Pair.get());
        Pair.release();
    }
    return this;
}

TJSONObject* TJSONObject::AddPair(TJSONString* Str, TJSONValue* Val) {
    return AddPair(TJSONNodePtr<TJSONString>(Str), TJSONNodePtr<TJSONValue>(Val));
}

// A part given alone is freed by its handle.
TJSONObject* TJSONObject::AddPair(TJSONNodePtr<TJSONString> Str, TJSONNodePtr<TJSONValue> Val) {
    if (!Str || !Val)
        return this;
    TJSONNodePtr<TJSONPair> Pair(new TJSONPair(Str.get(), Val.get()));
    Str.release();
    Val.release();
    return AddPair(std::move(Pair));
}

TJSONObject* TJSONObject::AddPair(const std::u16string& Str, TJSONValue* Val) {
    return AddPair(Str, TJSONNodePtr<TJSONValue>(Val));
}

TJSONObject* TJSONObject::AddPair(const std::u16string& Str, TJSONNodePtr<TJSONValue> Val) {
    if (!Val)
        return this;
    // The pair's memory is had before Val moves into it: a failure there
    // leaves Val to its handle.
    return AddPair(TJSONNodePtr<TJSONPair>(new TJSONPair(Str, std::move(Val))));
}

TJSONObject* TJSONObject::AddPair(const std::u16string& Str, const std::u16string& Val) {
    return AddPair(TJSONNodePtr<TJSONPair>(new TJSONPair(Str, Val)));
}

void TJSONObject::SetMemberList(std::vector<TJSONPair*> AList) {
    ReplaceList(FMembers, std::move(AList));
}

void TJSONObject::SetMemberList(std::vector<std::unique_ptr<TJSONPair>> AList) {
    ReplaceList(FMembers, ReleaseAll(AList));
}

void TJSONObject::AddDescendant(TJSONAncestor* Descendant) {
    if (auto* Pair = dynamic_cast<TJSONPair*>(Descendant))
        AddPair(Pair);
    else
        FreeIfOwned(Descendant);
}

TJSONObject* TJSONObject::DoClone() const {
    auto Copy = std::make_unique<TJSONObject>();
    Copy->FMembers.reserve(FMembers.size());
    for (const TJSONPair* Pair : FMembers)
        Copy->AddPair(Pair->Clone());
    return Copy.release();
}

// --- TJSONArray ------------------------------------------------------------

TJSONArray::TJSONArray(TJSONValue* FirstElem) {
    AddElement(FirstElem);
}

// Both constructors delegate, so that a failure to add the second element
// runs the destructor, which frees the first.
TJSONArray::TJSONArray(TJSONValue* FirstElem, TJSONValue* SecondElem) : TJSONArray() {
    TJSONNodePtr<TJSONValue> Second(SecondElem);
    AddElement(FirstElem);
    AddElement(std::move(Second));
}

TJSONArray::TJSONArray(const std::u16string& FirstElem, const std::u16string& SecondElem)
    : TJSONArray() {
    Add(FirstElem);
    Add(SecondElem);
}

TJSONArray::~TJSONArray() {
    for (const TJSONValue* Element : FElements)
        FreeIfOwned(Element);
}

int32_t TJSONArray::EstimatedByteSize() const {
    return ListEstimatedByteSize(FElements);
}

int32_t TJSONArray::ToBytes(uint8_t* Data, int32_t Offset) const {
    return ListToBytes(FElements, '[', ']', Data, Offset);
}

std::u16string TJSONArray::ToString() const {
    return ListToString(FElements, u'[', u']');
}

TJSONValue* TJSONArray::Get(int32_t Index) const {
    if (Index < 0 || Index >= Size())
        return nullptr;
    return FElements[static_cast<size_t>(Index)];
}

void TJSONArray::AddElement(TJSONValue* Element) {
    AddElement(TJSONNodePtr<TJSONValue>(Element));
}

void TJSONArray::AddElement(TJSONNodePtr<TJSONValue> Element) {
    if (Element) {
        FElements.push_back(Element.get());
        Element.release();
    }
}

TJSONArray* TJSONArray::Add(const std::u16string& Element) {
    AddElement(new TJSONString(Element));
    return this;
}

TJSONArray* TJSONArray::Add(const char16_t* Element) {
    AddElement(Element ? new TJSONString(Element) : new TJSONString());
    return this;
}

TJSONArray* TJSONArray::Add(int32_t Element) {
    AddElement(new TJSONNumber(Element));
    return this;
}

TJSONArray* TJSONArray::Add(int64_t Element) {
    AddElement(new TJSONNumber(Element));
    return this;
}

TJSONArray* TJSONArray::Add(double Element) {
    AddElement(new TJSONNumber(Element));
    return this;
}

void TJSONArray::SetElements(std::vector<TJSONValue*> AList) {
    ReplaceList(FElements, std::move(AList));
}

void TJSONArray::SetElements(std::vector<std::unique_ptr<TJSONValue>> AList) {
    ReplaceList(FElements, ReleaseAll(AList));
}

TJSONArray* TJSONArray::Add(bool Element) {
    if (Element)
        AddElement(new TJSONTrue());
    else
        AddElement(new TJSONFalse());
    return this;
}

TJSONArray* TJSONArray::Add(TJSONObject* Element) {
    if (Element)
        AddElement(Element);
    else
        AddElement(new TJSONNull());
    return this;
}

TJSONArray* TJSONArray::Add(TJSONArray* Element) {
    AddElement(Element);
    return this;
}

TJSONNodePtr<TJSONValue> TJSONArray::Pop() {
    if (FElements.empty())
        return nullptr;
    TJSONNodePtr<TJSONValue> First(FElements.front());
    FElements.erase(FElements.begin());
    return First;
}

void TJSONArray::AddDescendant(TJSONAncestor* Descendant) {
    if (auto* Value = dynamic_cast<TJSONValue*>(Descendant))
        AddElement(Value);
    else
        FreeIfOwned(Descendant);
}

TJSONArray* TJSONArray::DoClone() const {
    auto Copy = std::make_unique<TJSONArray>();
    Copy->FElements.reserve(FElements.size());
    for (const TJSONValue* Element : FElements)
        Copy->AddElement(Element->Clone());
    return Copy.release();
}

// --- Literals ----------------------------------------------------------------

int32_t TJSONTrue::ToBytes(uint8_t* Data, int32_t Offset) const {
    return WriteLiteral(Data, Offset, "true", 4);
}

int32_t TJSONFalse::ToBytes(uint8_t* Data, int32_t Offset) const {
    return WriteLiteral(Data, Offset, "false", 5);
}

int32_t TJSONNull::ToBytes(uint8_t* Data, int32_t Offset) const {
    return WriteLiteral(Data, Offset, "null", 4);
}

} // namespace kds
