// The parser behind TJSONObject's parse entry points: bytes in UTF-8 or byte
// mode to a tree of nodes (the grammar and the failure positions are in
// data/DBXJSON.h).

#include <algorithm>

#include "JSONNodeCache.h"
#include "base/AsciiText.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/JSONByteReader.h"

namespace kds {

namespace {

constexpr size_t StackKeepLimit = 65536; // entries; larger stacks are freed

} // namespace

// One value from a reader. Every step answers the position after what it
// consumed, or 0 or below on failure (the negated failure position; -1 for
// a number cut off after its sign). What a failing step built is freed by
// the unique_ptr that holds it, or by the container it was appended to.
class TJSONParser {
public:
    explicit TJSONParser(TJSONByteReader& Reader) : R(Reader) {
        if (TJSONParserStacks* Kept = ThreadParserStacks()) {
            FValues.swap(Kept->Values);
            FPairs.swap(Kept->Pairs);
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
        if (TJSONParserStacks* Kept = ThreadParserStacks()) {
            if (FValues.capacity() <= StackKeepLimit &&
                FValues.capacity() > Kept->Values.capacity())
                FValues.swap(Kept->Values);
            if (FPairs.capacity() <= StackKeepLimit && FPairs.capacity() > Kept->Pairs.capacity())
                FPairs.swap(Kept->Pairs);
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

// --- The parse entry points ------------------------------------------------

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

} // namespace kds
