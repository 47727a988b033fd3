#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kds {

// The error of the dataset engine: a wrong operation for the dataset's state,
// an unknown field or index, a value a field cannot take. The message is the
// text shown to the operator.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TFieldType {
    ftString, // text, at most Size bytes of UTF-8
    ftFloat,  // double, or null
};

class TMemoryDataSet;

// One column of a TMemoryDataSet. Fields are made by CreateDataSet from the
// dataset's field definitions and owned by the dataset; a reference stays valid
// until the dataset is created again or destroyed.
//
// The value accessors read and write the dataset's current row: the row being
// appended or edited when there is one, else the current stored row. Reading
// with no current row gives null (empty text). Writing needs a row being
// appended or edited, else it raises EDatabaseError "Dataset not in edit or
// insert mode". Window thread only, like the dataset.
class TField {
public:
    virtual ~TField();
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return FFieldName; }
    TFieldType DataType() const { return FDataType; }
    // Text fields: the most bytes kept. Float fields: 0.
    int Size() const { return FSize; }
    // Position in the dataset's field list, from 0.
    int Index() const { return FIndex; }
    TMemoryDataSet& DataSet() const { return FDataSet; }

    bool IsNull() const;
    // The value as text: text fields as stored, float fields in the general
    // format with the process-wide decimal separator, null as empty text.
    std::string AsString() const;
    // Sets the value from text (see the field kinds below for the rules);
    // raises EDatabaseError when the text does not fit the kind, leaving the
    // row unchanged.
    void SetAsString(const std::string& Text);
    void SetAsText(const std::string& Text) { SetAsString(Text); }
    // What a grid shows for the value; the same as AsString for both kinds.
    std::string DisplayText() const;
    // Sets the value to null.
    void Clear();

    // --- Record layout, used by the dataset. Rec points at one record. ---
    std::size_t Offset() const { return FOffset; }
    virtual std::size_t DataSize() const = 0;
    virtual bool IsNullIn(const std::byte* Rec) const = 0;
    virtual std::string TextIn(const std::byte* Rec) const = 0;
    virtual std::string DisplayTextIn(const std::byte* Rec) const { return TextIn(Rec); }
    // Converts Text and stores it in Rec; raises before touching Rec.
    virtual void WriteTextIn(std::byte* Rec, std::string_view Text) const = 0;
    virtual void ClearIn(std::byte* Rec) const = 0;
    // Orders two values of this field: null first. <0, 0, >0.
    virtual int CompareIn(const std::byte* A, const std::byte* B) const = 0;
    // Stores into Rec (of this field) the value of Source in SourceRec, as
    // assigning it would: same kind copied (text cut to this size), else by text.
    virtual void AssignIn(std::byte* Rec, const TField& Source, const std::byte* SourceRec) const;

protected:
    TField(TMemoryDataSet& DataSet, std::string FieldName, TFieldType DataType, int Size, int Index,
           std::size_t Offset);

private:
    TMemoryDataSet& FDataSet;
    std::string FFieldName;
    TFieldType FDataType;
    int FSize;
    int FIndex;
    std::size_t FOffset;
};

// Text of at most Size bytes. The narrow code page of this system is UTF-8:
// text is kept as UTF-8 (a malformed sequence becomes U+FFFD) and cut before
// the first character that would not fit whole, so a stored value never ends
// in half a character. Empty text is null.
class TStringField : public TField {
public:
    // Largest size a text field may have.
    static constexpr int MaxSize = 8192;

    TStringField(TMemoryDataSet& DataSet, std::string FieldName, int Size, int Index,
                 std::size_t Offset);

    // Text as this field stores it: valid UTF-8, cut to Size bytes on a
    // character boundary.
    static std::string Narrow(std::string_view Text, int Size);

    std::size_t DataSize() const override;
    bool IsNullIn(const std::byte* Rec) const override;
    std::string TextIn(const std::byte* Rec) const override;
    std::string_view ViewIn(const std::byte* Rec) const;
    void WriteTextIn(std::byte* Rec, std::string_view Text) const override;
    void ClearIn(std::byte* Rec) const override;
    int CompareIn(const std::byte* A, const std::byte* B) const override;
    void AssignIn(std::byte* Rec, const TField& Source, const std::byte* SourceRec) const override;
};

// A double or null. Text is read with TNumberFormat::DecimalSeparator() (the
// process-wide format from the system locale, never the C library's locale);
// empty text is null; text that is not a number raises EDatabaseError
// "'<text>' is not a valid floating point value for field '<name>'". Shown in
// the general format with up to 15 significant digits, empty when null.
class TFloatField : public TField {
public:
    TFloatField(TMemoryDataSet& DataSet, std::string FieldName, int Index, std::size_t Offset);

    // The display text of a value of this kind: empty for null, else the
    // general 15-digit format with the process-wide decimal separator.
    static std::string FormatDisplayText(std::optional<double> Value);

    std::optional<double> AsFloat() const;
    void SetAsFloat(double Value);

    std::optional<double> FloatIn(const std::byte* Rec) const;
    void WriteFloatIn(std::byte* Rec, double Value) const;

    std::size_t DataSize() const override;
    bool IsNullIn(const std::byte* Rec) const override;
    std::string TextIn(const std::byte* Rec) const override;
    void WriteTextIn(std::byte* Rec, std::string_view Text) const override;
    void ClearIn(std::byte* Rec) const override;
    int CompareIn(const std::byte* A, const std::byte* B) const override;
    void AssignIn(std::byte* Rec, const TField& Source, const std::byte* SourceRec) const override;
};

} // namespace kds
