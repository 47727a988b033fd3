#include "data/DBXJSON.h"

#include <algorithm>
#include <cstring>

#include "base/AsciiText.h"
#include "base/NumberFormat.h"
#include "base/TextConvert.h"
#include "data/JSONByteReader.h"

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

// --- Node memory -------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
#define KDS_JSON_NODE_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KDS_JSON_NODE_CACHE 0
#endif
#endif
#ifndef KDS_JSON_NODE_CACHE
#define KDS_JSON_NODE_CACHE 1
#endif

namespace {

constexpr std::size_t CacheGranule = 16;
constexpr std::size_t CacheClasses = 4; // node sizes up to 64 bytes
// Bytes of freed node memory a thread keeps; the rest goes back to the heap.
constexpr std::size_t CacheBudget = std::size_t(1) << 20;

struct TFreeNode {
    TFreeNode* Next;
};

// Set once the thread's cache has been flushed at thread exit; nodes freed
// later (by other thread-exit code) go straight back to the heap.
thread_local bool CacheGone = false;

struct TNodeCache {
    TFreeNode* Heads[CacheClasses] = {};
    std::size_t Bytes = 0;
    // The parser's item stacks, kept between parses so that their memory is
    // allocated once per thread rather than grown in every parse.
    std::vector<TJSONValue*> Values;
    std::vector<TJSONPair*> Pairs;

    ~TNodeCache() {
        CacheGone = true;
        for (TFreeNode*& Head : Heads)
            while (TFreeNode* Node = Head) {
                Head = Node->Next;
                ::operator delete(Node);
            }
    }
};

thread_local TNodeCache NodeCache;

constexpr size_t StackKeepLimit = 65536; // entries; larger stacks are freed

} // namespace

void* TJSONAncestor::operator new(std::size_t Size) {
    const std::size_t Class = (Size - 1) / CacheGranule;
    if (Class >= CacheClasses)
        return ::operator new(Size);
    if (KDS_JSON_NODE_CACHE && !CacheGone) {
        TNodeCache& Cache = NodeCache;
        if (TFreeNode* Node = Cache.Heads[Class]) {
            Cache.Heads[Class] = Node->Next;
            Cache.Bytes -= (Class + 1) * CacheGranule;
            return Node;
        }
    }
    // Every chunk of a class has the class's full size, so that any node of
    // the class can reuse it.
    return ::operator new((Class + 1) * CacheGranule);
}

void TJSONAncestor::operator delete(void* Node, std::size_t Size) noexcept {
    const std::size_t Class = (Size - 1) / CacheGranule;
    if (KDS_JSON_NODE_CACHE && Class < CacheClasses && !CacheGone) {
        TNodeCache& Cache = NodeCache;
        const std::size_t Chunk = (Class + 1) * CacheGranule;
        if (Cache.Bytes + Chunk <= CacheBudget) {
            auto* Free = static_cast<TFreeNode*>(Node);
            Free->Next = Cache.Heads[Class];
            Cache.Heads[Class] = Free;
            Cache.Bytes += Chunk;
            return;
        }
    }
    ::operator delete(Node);
}

// --- The parser -----------------------------------------------------------

// One value from a reader. Every step answers the position after what it
// consumed, or 0 or below on failure (the negated failure position; -1 for
// a number cut off after its sign). What a failing step built is freed by
// the unique_ptr that holds it, or by the container it was appended to.
class TJSONParser {
public:
    explicit TJSONParser(TJSONByteReader& Reader) : R(Reader) {
        if (!CacheGone) {
            FValues.swap(NodeCache.Values);
            FPairs.swap(NodeCache.Pairs);
        }
    }
    TJSONParser(const TJSONParser&) = delete;
    TJSONParser& operator=(const TJSONParser&) = delete;
    // Only a parse left by an exception leaves items on the stacks.
    ~TJSONParser() {
        for (const TJSONValue* Value : FValues)
            delete Value;
        for (const TJSONPair* Pair : FPairs)
            delete Pair;
        FValues.clear();
        FPairs.clear();
        if (!CacheGone) {
            if (FValues.capacity() <= StackKeepLimit &&
                FValues.capacity() > NodeCache.Values.capacity())
                FValues.swap(NodeCache.Values);
            if (FPairs.capacity() <= StackKeepLimit &&
                FPairs.capacity() > NodeCache.Pairs.capacity())
                FPairs.swap(NodeCache.Pairs);
        }
    }

    void SkipWhitespace() {
        while (!R.Empty()) {
            const uint8_t B = R.PeekByte();
            if (B != ' ' && B != '\t' && B != '\n' && B != '\r')
                return;
            R.ConsumeByte();
        }
    }

    int32_t ParseValue(std::unique_ptr<TJSONValue>& Out) {
        if (R.Empty())
            return Fail();
        switch (R.PeekByte()) {
        case '"': {
            auto S = std::make_unique<TJSONString>(std::u16string());
            const int32_t Result = ParseString(*S);
            Out = std::move(S);
            return Result;
        }
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return ParseNumber(Out);
        case '[':
            return ParseArray(Out);
        case '{': {
            if (!EnterLevel())
                return Fail();
            auto O = std::make_unique<TJSONObject>();
            const int32_t Result = ParseObject(*O);
            Out = std::move(O);
            return Result;
        }
        case 't':
            return ParseLiteral("true", 4, Out, [] { return new TJSONTrue(); });
        case 'f':
            return ParseLiteral("false", 5, Out, [] { return new TJSONFalse(); });
        case 'n':
            return ParseLiteral("null", 4, Out, [] { return new TJSONNull(); });
        default:
            return Fail();
        }
    }

    // The object text at the reader, its members appended to Target as read.
    // The caller has entered the nesting level for it.
    // Members are gathered on the pair stack and moved into Target in one
    // go when the object ends, successfully or not, so that its list is
    // allocated once at its final size.
    int32_t ParseObject(TJSONObject& Target) {
        const size_t Base = FPairs.size();
        const int32_t Result = ParseMembers();
        Target.FMembers.reserve(Target.FMembers.size() + (FPairs.size() - Base));
        Target.FMembers.insert(Target.FMembers.end(),
                               FPairs.begin() + static_cast<std::ptrdiff_t>(Base), FPairs.end());
        FPairs.resize(Base);
        return Result;
    }

    bool EnterLevel() { return ++FDepth <= TJSONObject::MaxDepth; }

private:
    int32_t ParseMembers() {
        if (R.Empty() || R.PeekByte() != '{')
            return Fail();
        R.ConsumeByte();
        SkipWhitespace();
        if (R.Empty())
            return Fail();
        if (R.PeekByte() == '}') {
            R.ConsumeByte();
            return LeaveLevel();
        }
        for (;;) {
            if (R.Empty() || R.PeekByte() != '"')
                return Fail();
            auto NewPair = std::make_unique<TJSONPair>();
            FPairs.push_back(NewPair.get());
            TJSONPair* Pair = NewPair.release();
            auto* Name = new TJSONString(std::u16string());
            Pair->SetJsonString(Name);
            int32_t Result = ParseString(*Name);
            if (Result <= 0)
                return Result;
            SkipWhitespace();
            if (R.Empty() || R.PeekByte() != ':')
                return Fail();
            R.ConsumeByte();
            SkipWhitespace();
            std::unique_ptr<TJSONValue> Value;
            Result = ParseValue(Value);
            if (Value)
                Pair->SetJsonValue(Value.release());
            if (Result <= 0)
                return Result;
            SkipWhitespace();
            if (R.Empty())
                return Fail();
            const uint8_t B = R.PeekByte();
            if (B != ',' && B != '}')
                return Fail();
            R.ConsumeByte();
            if (B == '}')
                return LeaveLevel();
            SkipWhitespace();
        }
    }

    int32_t Fail() const { return -R.Offset(); }

    int32_t LeaveLevel() {
        --FDepth;
        SkipWhitespace();
        return R.Offset();
    }

    template <typename Make>
    int32_t ParseLiteral(const char* Word, int32_t Length, std::unique_ptr<TJSONValue>& Out,
                         Make MakeValue) {
        if (!R.HasMore(Length))
            return Fail();
        for (int32_t I = 0; I < Length; ++I)
            if (R.ConsumeByte() != static_cast<uint8_t>(Word[I]))
                return Fail();
        Out.reset(MakeValue());
        return R.Offset();
    }

    static bool IsDigit(uint8_t B) { return B >= '0' && B <= '9'; }

    bool NextIsDigit() { return !R.Empty() && IsDigit(R.PeekByte()); }

    void SkipDigits() {
        while (NextIsDigit())
            R.ConsumeByte();
    }

    // Every character of a number is a single ASCII byte, so its text is the
    // raw bytes from Start to where the reader stops.
    int32_t ParseNumber(std::unique_ptr<TJSONValue>& Out) {
        const int32_t Start = R.Offset();
        if (R.PeekByte() == '-') {
            R.ConsumeByte();
            if (R.Empty())
                return -1;
        }
        if (!NextIsDigit())
            return Fail();
        if (R.ConsumeByte() == '0') {
            if (NextIsDigit())
                return Fail();
        } else {
            SkipDigits();
        }
        if (!R.Empty() && R.PeekByte() == '.') {
            R.ConsumeByte();
            if (!NextIsDigit())
                return Fail();
            SkipDigits();
        }
        if (!R.Empty() && (R.PeekByte() == 'e' || R.PeekByte() == 'E')) {
            R.ConsumeByte();
            if (!R.Empty() && (R.PeekByte() == '+' || R.PeekByte() == '-'))
                R.ConsumeByte();
            if (!NextIsDigit())
                return Fail();
            SkipDigits();
        }
        const uint8_t* Begin = R.Data() + Start;
        Out = std::make_unique<TJSONNumber>(std::u16string(Begin, R.Data() + R.Offset()));
        return R.Offset();
    }

    // The string text at the reader (opening quote included) into Target.
    int32_t ParseString(TJSONString& Target) {
        R.ConsumeByte(); // the opening quote
        std::u16string& Buffer = Target.FStrBuffer;
        Target.FHasBuffer = true;
        const bool Utf8 = R.IsUTF8();
        for (;;) {
            // Fast path: a run of raw bytes that the reader would serve
            // unchanged and the grammar would take as themselves.
            if (R.AtRawByte()) {
                const uint8_t* Begin = R.Data() + R.Offset();
                const uint8_t* End = R.Data() + R.Range();
                const uint8_t* P = Begin;
                if (Utf8) {
                    while (P < End && *P != '"' && *P != '\\' && *P < 0x80)
                        ++P;
                } else {
                    while (P < End && *P != '"' && *P != '\\')
                        ++P;
                }
                if (P != Begin) {
                    const size_t Old = Buffer.size();
                    Buffer.resize(Old + static_cast<size_t>(P - Begin));
                    std::copy(Begin, P, Buffer.data() + Old);
                    R.SkipRaw(static_cast<int32_t>(P - Begin));
                }
            }
            if (R.Empty())
                return Fail();
            const uint8_t B = R.ConsumeByte();
            if (B == '"')
                return R.Offset();
            if (B != '\\') {
                Buffer.push_back(B);
                continue;
            }
            if (R.Empty())
                return Fail();
            switch (R.ConsumeByte()) {
            case '"':
                Buffer.push_back(u'"');
                break;
            case '\\':
                Buffer.push_back(u'\\');
                break;
            case '/':
                Buffer.push_back(u'/');
                break;
            case 'b':
                Buffer.push_back(8);
                break;
            case 'f':
                Buffer.push_back(12);
                break;
            case 'n':
                Buffer.push_back(10);
                break;
            case 'r':
                Buffer.push_back(13);
                break;
            case 't':
                Buffer.push_back(9);
                break;
            case 'u': {
                if (!R.HasMore(4))
                    return Fail();
                uint32_t Unit = 0;
                for (int I = 0; I < 4; ++I) {
                    const int Digit = HexDigitValue(R.ConsumeByte());
                    if (Digit < 0)
                        return Fail();
                    Unit = (Unit << 4) | static_cast<uint32_t>(Digit);
                }
                Buffer.push_back(static_cast<char16_t>(Unit));
                break;
            }
            default:
                return Fail();
            }
        }
    }

    int32_t ParseArray(std::unique_ptr<TJSONValue>& Out) {
        if (!EnterLevel())
            return Fail();
        auto A = std::make_unique<TJSONArray>();
        std::vector<TJSONValue*>& Elements = A->FElements;
        Out = std::move(A);
        // As for objects: gathered on the value stack, moved in at the end.
        const size_t Base = FValues.size();
        const int32_t Result = ParseElements();
        Elements.assign(FValues.begin() + static_cast<std::ptrdiff_t>(Base), FValues.end());
        FValues.resize(Base);
        return Result;
    }

    int32_t ParseElements() {
        R.ConsumeByte(); // '['
        SkipWhitespace();
        if (R.Empty())
            return Fail();
        if (R.PeekByte() == ']') {
            R.ConsumeByte();
            return LeaveLevel();
        }
        for (;;) {
            std::unique_ptr<TJSONValue> Value;
            const int32_t Result = ParseValue(Value);
            if (Value) {
                FValues.push_back(Value.get());
                Value.release();
            }
            if (Result <= 0)
                return Result;
            SkipWhitespace();
            if (R.Empty())
                return Fail();
            const uint8_t B = R.PeekByte();
            if (B != ',' && B != ']')
                return Fail();
            R.ConsumeByte();
            if (B == ']')
                return LeaveLevel();
            SkipWhitespace();
        }
    }

    TJSONByteReader& R;
    int32_t FDepth = 0;
    // Items of the containers being read, innermost last.
    std::vector<TJSONValue*> FValues;
    std::vector<TJSONPair*> FPairs;
};
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
    : FJsonString(new TJSONString(Str)), FJsonValue(Value) {}

TJSONPair::TJSONPair(const std::u16string& Str, const std::u16string& Value)
    : FJsonString(new TJSONString(Str)), FJsonValue(new TJSONString(Value)) {}

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

std::unique_ptr<TJSONPair> TJSONObject::RemovePair(const std::u16string& PairName) {
    for (auto It = FMembers.begin(); It != FMembers.end(); ++It) {
        if ((*It)->JsonString() && (*It)->JsonString()->Text() == PairName) {
            std::unique_ptr<TJSONPair> Pair(*It);
            FMembers.erase(It);
            return Pair;
        }
    }
    return nullptr;
}

TJSONObject* TJSONObject::AddPair(TJSONPair* Pair) {
    if (Pair) {
        FMembers.push_back(nullptr);
        FMembers.back() = Pair;
    }
    return this;
}

TJSONObject* TJSONObject::AddPair(TJSONString* Str, TJSONValue* Val) {
    if (Str && Val)
        return AddPair(new TJSONPair(Str, Val));
    FreeIfOwned(Str);
    FreeIfOwned(Val);
    return this;
}

TJSONObject* TJSONObject::AddPair(const std::u16string& Str, TJSONValue* Val) {
    if (Val)
        AddPair(new TJSONPair(Str, Val));
    return this;
}

TJSONObject* TJSONObject::AddPair(const std::u16string& Str, const std::u16string& Val) {
    return AddPair(new TJSONPair(Str, Val));
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
        Copy->AddPair(Pair->Clone().release());
    return Copy.release();
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(const uint8_t* Data, int32_t Offset,
                                                        int32_t End, bool IsUTF8) {
    if (Offset < 0 || End < Offset || (!Data && End > Offset))
        return nullptr;
    TJSONByteReader Reader(Data, Offset, End, IsUTF8);
    TJSONParser Parser(Reader);
    Parser.SkipWhitespace();
    std::unique_ptr<TJSONValue> Value;
    const int32_t Result = Parser.ParseValue(Value);
    if (Result != End || !Value)
        return nullptr;
    return Value;
}

static bool InData(const std::vector<uint8_t>& Data, int32_t Offset, int32_t End) {
    return Offset >= 0 && Offset <= End && static_cast<size_t>(End) <= Data.size();
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(const std::vector<uint8_t>& Data,
                                                        int32_t Offset, bool IsUTF8) {
    if (Data.size() > static_cast<size_t>(INT32_MAX))
        return nullptr;
    return ParseJSONValue(Data, Offset, static_cast<int32_t>(Data.size()), IsUTF8);
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(const std::vector<uint8_t>& Data,
                                                        int32_t Offset, int32_t End, bool IsUTF8) {
    if (!InData(Data, Offset, End))
        return nullptr;
    return ParseJSONValue(Data.data(), Offset, End, IsUTF8);
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(const std::vector<uint8_t>& Data,
                                                        int32_t Offset, int32_t End) {
    return ParseJSONValue(Data, Offset, End, true);
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(const std::u16string& Data) {
    return ParseJSONValue(Utf16ToUtf8(Data));
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(const std::string& Data) {
    if (Data.size() > static_cast<size_t>(INT32_MAX))
        return nullptr;
    return ParseJSONValue(reinterpret_cast<const uint8_t*>(Data.data()), 0,
                          static_cast<int32_t>(Data.size()), true);
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValueUTF8(const std::vector<uint8_t>& Data,
                                                            int32_t Offset, int32_t End) {
    return ParseJSONValue(Data, Offset, End, true);
}

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValueUTF8(const std::vector<uint8_t>& Data,
                                                            int32_t Offset) {
    return ParseJSONValue(Data, Offset, true);
}

int32_t TJSONObject::Parse(const std::vector<uint8_t>& Data, int32_t Position) {
    if (Data.empty() || Position < 0 || static_cast<size_t>(Position) >= Data.size() ||
        Data.size() > static_cast<size_t>(INT32_MAX))
        return -1;
    const int32_t Size = static_cast<int32_t>(Data.size());
    const int32_t Result = Parse(Data, Position, Size);
    if (Result <= 0)
        return Result;
    return Result == Size ? Result : -Result;
}

int32_t TJSONObject::Parse(const std::vector<uint8_t>& Data, int32_t Position, int32_t End) {
    if (Data.empty() || Position < 0 || Position >= End || static_cast<size_t>(End) > Data.size())
        return -1;
    const bool HasByteOrderMark =
        Data.size() >= 3 && Data[0] == 0xEF && Data[1] == 0xBB && Data[2] == 0xBF;
    TJSONByteReader Reader(Data.data(), Position, End, HasByteOrderMark);
    TJSONParser Parser(Reader);
    Parser.EnterLevel();
    return Parser.ParseObject(*this);
}

// --- TJSONArray ------------------------------------------------------------

TJSONArray::TJSONArray(TJSONValue* FirstElem) {
    AddElement(FirstElem);
}

TJSONArray::TJSONArray(TJSONValue* FirstElem, TJSONValue* SecondElem) {
    AddElement(FirstElem);
    AddElement(SecondElem);
}

TJSONArray::TJSONArray(const std::u16string& FirstElem, const std::u16string& SecondElem) {
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
    if (Element) {
        FElements.push_back(nullptr);
        FElements.back() = Element;
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

std::unique_ptr<TJSONValue> TJSONArray::Pop() {
    if (FElements.empty())
        return nullptr;
    std::unique_ptr<TJSONValue> First(FElements.front());
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
        Copy->AddElement(Element->Clone().release());
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
