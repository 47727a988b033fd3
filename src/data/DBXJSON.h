#pragma once

// The in-memory JSON model handed between the server's layers: a tree of
// value objects with explicit ownership, a text form for display, a pure
// ASCII byte form for the wire, and a parser from bytes back to a tree.
//
// Ownership. Containers hold raw pointers and free, when they are destroyed,
// exactly the children whose Owned flag is true (every new node starts with
// Owned true). Adding a child to a container hands it over; set Owned to false
// on a child that must outlive its container. A pair always frees its name,
// and frees its value only when the value is Owned. The parse entry points and
// Clone return trees the caller owns; Clone copies deeply and every copy is
// Owned. Nodes that a container hands back (Pop, RemovePair) come in a
// TJSONNodePtr, which frees them by the same rule: only when Owned. Every
// adding operation also takes a TJSONNodePtr (a plain std::unique_ptr
// converts to one). An operation that takes a node and then fails for want of
// memory frees that node by the same rule before it raises std::bad_alloc,
// so nothing handed over is ever leaked.
//
// Threads: a tree has one owner at a time and is not shared while it changes;
// nothing here locks. Any thread may parse.
//
// Errors: malformed JSON never raises; the parse entry points answer nullptr
// (Parse a non-positive position) after freeing what they built. Malformed
// UTF-8 raises TJSONException. TJSONNumber::AsDouble/AsInt raise
// EConvertError. Nothing else raises except std::bad_alloc.
//
// Byte form (ToBytes), pure ASCII, no whitespace:
//
//   kind            bytes written                         EstimatedByteSize
//   string          " escaped content "  ("null" if null)  6 x units + 2 (4)
//   number          the stored text, one byte per unit     units
//   true/false/null "true" / "false" / "null"              4 / 5 / 4
//   pair            name ':' value                          name + value + 1
//   object          '{' members joined by ',' '}'           1 + sum(m + 1), or 2
//   array           '[' elements joined by ',' ']'          1 + sum(e + 1), or 2
//
//   string escapes (per UTF-16 code unit): 8 \b, 9 \t, 10 \n, 12 \f, 13 \r,
//   '"' \", '/' \/, '\' \\, other units below 32 and every unit above 127
//   \uXXXX (upper-case hex, surrogates one by one); 32..127 otherwise raw.
//
// Parsing: one value; whitespace is space, tab, LF and CR only; objects and
// arrays swallow the whitespace after them, scalars do not (so a top-level
// scalar followed by whitespace does not parse). Number text is kept exactly
// as read. In UTF-8 mode multi-byte sequences become UTF-16 code units (and
// a leading byte-order mark is skipped); in byte mode every byte is the unit
// with that code. Nesting deeper than MaxDepth arrays/objects fails like any
// malformed input. Offsets and End are absolute byte indexes; End is
// exclusive.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/DBXCallback.h"

namespace kds {

// Malformed UTF-8 met by the parser. The message names the absolute position:
//   "UTF8: A start byte not followed by enough continuation bytes in position <n>"
//   "UTF8: An unexpected continuation byte in <k>-byte UTF8 in position <n>"
//   "UTF8: Type cannot be determined out of header byte at position <n>"
class TJSONException : public std::runtime_error {
public:
    explicit TJSONException(const std::string& ErrorMessage) : std::runtime_error(ErrorMessage) {}
};

class TJSONAncestor;
class TJSONString;
class TJSONValue;
class TJSONPair;
class TJSONObject;
class TJSONArray;
class TJSONParser;

// Frees a node only when its Owned flag is true at that moment: a node whose
// Owned is false belongs to someone else. Any node held in a plain
// std::unique_ptr converts to a TJSONNodePtr and is then freed by this rule.
struct TJSONNodeDeleter {
    TJSONNodeDeleter() = default;
    template <typename U> TJSONNodeDeleter(const std::default_delete<U>&) noexcept {}
    void operator()(const TJSONAncestor* Node) const noexcept;
};

// A node handed out by, or handed to, a container.
template <typename T> using TJSONNodePtr = std::unique_ptr<T, TJSONNodeDeleter>;

// The abstract root of every node.
class TJSONAncestor {
public:
    TJSONAncestor() = default;
    TJSONAncestor(const TJSONAncestor&) = delete;
    TJSONAncestor& operator=(const TJSONAncestor&) = delete;
    virtual ~TJSONAncestor() = default;

    // Plain content as text: a string's content, a number formatted with the
    // process-wide decimal separator, empty text for everything else.
    virtual std::u16string Value() const;
    // An upper bound of the bytes ToBytes writes; needs no pass over the text.
    virtual int32_t EstimatedByteSize() const = 0;
    // Writes the byte form at Data[Offset...] without any bounds check (size
    // the buffer with EstimatedByteSize) and returns the position after the
    // last byte written.
    virtual int32_t ToBytes(uint8_t* Data, int32_t Offset) const = 0;
    std::unique_ptr<TJSONAncestor> Clone() const {
        return std::unique_ptr<TJSONAncestor>(DoClone());
    }
    virtual bool GetOwned() const { return FOwned; }
    bool Owned() const { return GetOwned(); }
    virtual void SetOwned(bool Owned) { FOwned = Owned; }
    // True for a null string (and number) and for TJSONNull.
    virtual bool Null() const { return false; }
    // The display text form: no escaping, no whitespace.
    virtual std::u16string ToString() const = 0;

    // Convenience: the byte form in a buffer of its own, cut to its length.
    std::vector<uint8_t> ToBytes() const;

    // Nodes are small and made and freed in bulk by the parser, so each
    // thread keeps a cache of freed node memory (at most 1 MiB, given back
    // when the thread ends; off under the address sanitizer, so that it still
    // sees every use after free). A node may be freed on any thread.
    static void* operator new(std::size_t Size);
    static void operator delete(void* Node, std::size_t Size) noexcept;

protected:
    // The parser's add-child: takes ownership of Descendant (object: a pair;
    // array: an element; pair: first the name, then the value). Kinds without
    // children free it.
    virtual void AddDescendant(TJSONAncestor* Descendant);
    // The deep copy behind Clone; the caller owns the result.
    virtual TJSONAncestor* DoClone() const = 0;

    friend class TJSONParser;

private:
    bool FOwned = true;
};

// The abstract base of every value (everything but a pair).
class TJSONValue : public TJSONAncestor {
public:
    std::unique_ptr<TJSONValue> Clone() const { return std::unique_ptr<TJSONValue>(DoClone()); }

protected:
    TJSONValue* DoClone() const override = 0;
};

// A string; without a buffer it is the null string.
class TJSONString : public TJSONValue {
public:
    // The null string.
    TJSONString() = default;
    // Content copied; empty text gives an empty, non-null string.
    explicit TJSONString(std::u16string Value) : FStrBuffer(std::move(Value)), FHasBuffer(true) {}

    std::u16string Value() const override;
    int32_t EstimatedByteSize() const override;
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    bool Null() const override { return !FHasBuffer; }
    std::u16string ToString() const override;
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONString> Clone() const { return std::unique_ptr<TJSONString>(DoClone()); }

    // Appends one UTF-16 code unit (a null string becomes non-null).
    virtual void AddChar(char16_t Ch);

    // The content without a copy (empty for a null string).
    const std::u16string& Text() const { return FStrBuffer; }

protected:
    TJSONString* DoClone() const override;

    std::u16string FStrBuffer;
    bool FHasBuffer = false;

    friend class TJSONParser;
};

// A number, held as text exactly as it was read or written.
class TJSONNumber : public TJSONString {
public:
    // Empty text (non-null).
    TJSONNumber() : TJSONString(std::u16string()) {}
    // The general 15-digit format with "." as separator (1E20 form).
    explicit TJSONNumber(double Value);
    // Decimal digits, "-" for negatives.
    explicit TJSONNumber(int32_t Value);
    explicit TJSONNumber(int64_t Value);
    // Stored as given, without validation.
    explicit TJSONNumber(std::u16string Text) : TJSONString(std::move(Text)) {}

    // The number read as a double, formatted with the process-wide separator.
    std::u16string Value() const override;
    int32_t EstimatedByteSize() const override;
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    std::u16string ToString() const override;
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONNumber> Clone() const { return std::unique_ptr<TJSONNumber>(DoClone()); }

    // The text read with "." as decimal separator; raises EConvertError
    // "'<text>' is not a valid floating point value".
    double AsDouble() const;
    // The text read as a decimal 32-bit integer; raises EConvertError
    // "'<text>' is not a valid integer value".
    int32_t AsInt() const;

protected:
    TJSONNumber* DoClone() const override;
};

// One member of an object: a name and a value. Always frees its name; frees
// its value only when the value is Owned. Either part may be missing.
class TJSONPair : public TJSONAncestor {
public:
    TJSONPair() = default;
    // Takes both (either may be nullptr).
    TJSONPair(TJSONString* Str, TJSONValue* Value);
    // Takes Value; when the name cannot be made the value is freed (if Owned)
    // before std::bad_alloc is raised.
    TJSONPair(const std::u16string& Str, TJSONValue* Value);
    TJSONPair(const std::u16string& Str, TJSONNodePtr<TJSONValue> Value);
    TJSONPair(const std::u16string& Str, const std::u16string& Value);
    ~TJSONPair() override;

    int32_t EstimatedByteSize() const override;
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    // Name, ":", value; empty text when either part is missing.
    std::u16string ToString() const override;
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONPair> Clone() const { return std::unique_ptr<TJSONPair>(DoClone()); }

    TJSONString* JsonString() const { return FJsonString; }
    TJSONValue* JsonValue() const { return FJsonValue; }
    // Replace a part; the part replaced is freed by the rules above.
    void SetJsonString(TJSONString* Str);
    void SetJsonValue(TJSONValue* Value);

protected:
    void AddDescendant(TJSONAncestor* Descendant) override;
    TJSONPair* DoClone() const override;

private:
    TJSONString* FJsonString = nullptr;
    TJSONValue* FJsonValue = nullptr;
};

// An object: ordered members, repeated names kept in insertion order.
class TJSONObject : public TJSONValue {
public:
    // The deepest nesting of arrays and objects the parser accepts.
    static constexpr int32_t MaxDepth = 512;

    TJSONObject() = default;
    // A nullptr pair is not added.
    explicit TJSONObject(TJSONPair* Pair);
    ~TJSONObject() override;

    int32_t EstimatedByteSize() const override;
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    std::u16string ToString() const override;
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONObject> Clone() const { return std::unique_ptr<TJSONObject>(DoClone()); }

    int32_t Size() const { return static_cast<int32_t>(FMembers.size()); }
    // The pair at Index, nullptr outside 0..Size-1.
    TJSONPair* Get(int32_t Index) const;
    // The first pair whose name equals PairName code unit by code unit.
    TJSONPair* Get(const std::u16string& PairName) const;
    // Detaches the first pair of that name and hands it to the caller
    // (nullptr when there is none). The handle frees the pair only when it is
    // Owned: a pair whose Owned is false was never the object's.
    TJSONNodePtr<TJSONPair> RemovePair(const std::u16string& PairName);

    // Each AddPair takes what it is given and returns this object. A nullptr
    // pair is ignored. The two-part forms add nothing unless both parts are
    // given; the part given alone is then freed (when Owned), since the
    // caller handed it over.
    TJSONObject* AddPair(TJSONPair* Pair);
    TJSONObject* AddPair(TJSONNodePtr<TJSONPair> Pair);
    TJSONObject* AddPair(TJSONString* Str, TJSONValue* Val);
    TJSONObject* AddPair(TJSONNodePtr<TJSONString> Str, TJSONNodePtr<TJSONValue> Val);
    TJSONObject* AddPair(const std::u16string& Str, TJSONValue* Val);
    TJSONObject* AddPair(const std::u16string& Str, TJSONNodePtr<TJSONValue> Val);
    TJSONObject* AddPair(const std::u16string& Str, const std::u16string& Val);

    const std::vector<TJSONPair*>& GetMemberList() const { return FMembers; }
    // Adopts AList as the member list (nullptr entries dropped; a pair may
    // stand in it once). The current members that are not in AList are freed
    // when Owned, as if the object were destroyed; those that are in it stay.
    void SetMemberList(std::vector<TJSONPair*> AList);
    // The same with a list handed over whole: none of its pairs may already
    // be a member.
    void SetMemberList(std::vector<std::unique_ptr<TJSONPair>> AList);

    // --- Parsing. Each returns a new value the caller owns, or nullptr. ---
    // Data[Offset..End) in UTF-8 or byte mode. Offset/End outside the data
    // give nullptr.
    static std::unique_ptr<TJSONValue> ParseJSONValue(const uint8_t* Data, int32_t Offset,
                                                      int32_t End, bool IsUTF8 = true);
    static std::unique_ptr<TJSONValue> ParseJSONValue(const std::vector<uint8_t>& Data,
                                                      int32_t Offset, bool IsUTF8 = true);
    static std::unique_ptr<TJSONValue> ParseJSONValue(const std::vector<uint8_t>& Data,
                                                      int32_t Offset, int32_t End, bool IsUTF8);
    // UTF-8 mode up to End (so that an int third argument never turns into
    // the IsUTF8 flag).
    static std::unique_ptr<TJSONValue> ParseJSONValue(const std::vector<uint8_t>& Data,
                                                      int32_t Offset, int32_t End);
    // The text encoded as UTF-8, parsed in UTF-8 mode.
    static std::unique_ptr<TJSONValue> ParseJSONValue(const std::u16string& Data);
    // The bytes of an 8-bit string, in UTF-8 mode.
    static std::unique_ptr<TJSONValue> ParseJSONValue(const std::string& Data);
    static std::unique_ptr<TJSONValue> ParseJSONValueUTF8(const std::vector<uint8_t>& Data,
                                                          int32_t Offset, int32_t End);
    static std::unique_ptr<TJSONValue> ParseJSONValueUTF8(const std::vector<uint8_t>& Data,
                                                          int32_t Offset);

    // Fills this (normally empty) object with the members of the object text
    // at Position, one byte per character unless Data starts with a UTF-8
    // byte-order mark. Answers the end position when the text ends exactly
    // at the end of Data, its negation when it ends earlier, 0 or below when
    // the text is not an object (the negated failure position), and -1 when
    // Data is empty or Position lies outside it. Members read before a
    // failure stay in the object.
    int32_t Parse(const std::vector<uint8_t>& Data, int32_t Position);
    // The same up to End, answering the raw result without the end check.
    int32_t Parse(const std::vector<uint8_t>& Data, int32_t Position, int32_t End);

protected:
    void AddDescendant(TJSONAncestor* Descendant) override;
    TJSONObject* DoClone() const override;

private:
    std::vector<TJSONPair*> FMembers;

    friend class TJSONParser;
};

// An array: ordered elements.
class TJSONArray : public TJSONValue {
public:
    TJSONArray() = default;
    // Values given are taken; nullptr ones skipped.
    explicit TJSONArray(TJSONValue* FirstElem);
    TJSONArray(TJSONValue* FirstElem, TJSONValue* SecondElem);
    // Two strings, each wrapped in a new TJSONString.
    TJSONArray(const std::u16string& FirstElem, const std::u16string& SecondElem);
    ~TJSONArray() override;

    int32_t EstimatedByteSize() const override;
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    std::u16string ToString() const override;
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONArray> Clone() const { return std::unique_ptr<TJSONArray>(DoClone()); }

    int32_t Size() const { return static_cast<int32_t>(FElements.size()); }
    // nullptr outside 0..Size-1.
    TJSONValue* Get(int32_t Index) const;

    // Takes Element; nullptr ignored.
    void AddElement(TJSONValue* Element);
    void AddElement(TJSONNodePtr<TJSONValue> Element);
    // Each Add appends a new node (or the one given, which it takes) and
    // returns this array.
    TJSONArray* Add(const std::u16string& Element);
    TJSONArray* Add(const char16_t* Element); // keeps literals away from Add(bool)
    TJSONArray* Add(int32_t Element);
    TJSONArray* Add(int64_t Element);
    TJSONArray* Add(double Element);
    TJSONArray* Add(bool Element);
    // A nullptr object is replaced by a new TJSONNull.
    TJSONArray* Add(TJSONObject* Element);
    // A nullptr array is ignored.
    TJSONArray* Add(TJSONArray* Element);

    // Detaches the element at index 0 (the first) and hands it to the caller;
    // nullptr when empty. The handle frees the element only when it is
    // Owned: an element whose Owned is false was never the array's.
    TJSONNodePtr<TJSONValue> Pop();

    const std::vector<TJSONValue*>& GetElements() const { return FElements; }
    // Adopts AList as the element list (nullptr entries dropped; an element
    // may stand in it once). The current elements that are not in AList are
    // freed when Owned; those that are in it stay.
    void SetElements(std::vector<TJSONValue*> AList);
    // The same with a list handed over whole: none of its elements may
    // already be in the array.
    void SetElements(std::vector<std::unique_ptr<TJSONValue>> AList);

protected:
    void AddDescendant(TJSONAncestor* Descendant) override;
    TJSONArray* DoClone() const override;

private:
    std::vector<TJSONValue*> FElements;

    friend class TJSONParser;
};

class TJSONTrue : public TJSONValue {
public:
    int32_t EstimatedByteSize() const override { return 4; }
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    std::u16string ToString() const override { return u"true"; }
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONTrue> Clone() const { return std::unique_ptr<TJSONTrue>(DoClone()); }

protected:
    TJSONTrue* DoClone() const override { return new TJSONTrue(); }
};

class TJSONFalse : public TJSONValue {
public:
    int32_t EstimatedByteSize() const override { return 5; }
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    std::u16string ToString() const override { return u"false"; }
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONFalse> Clone() const { return std::unique_ptr<TJSONFalse>(DoClone()); }

protected:
    TJSONFalse* DoClone() const override { return new TJSONFalse(); }
};

class TJSONNull : public TJSONValue {
public:
    int32_t EstimatedByteSize() const override { return 4; }
    int32_t ToBytes(uint8_t* Data, int32_t Offset) const override;
    bool Null() const override { return true; }
    std::u16string ToString() const override { return u"null"; }
    using TJSONAncestor::ToBytes;
    std::unique_ptr<TJSONNull> Clone() const { return std::unique_ptr<TJSONNull>(DoClone()); }

protected:
    TJSONNull* DoClone() const override { return new TJSONNull(); }
};

} // namespace kds
