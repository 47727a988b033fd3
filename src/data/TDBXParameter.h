#pragma once

// Parameters of a command: value types with a value attached, kept by
// ordinal in a list whose values all read from and write to one row.
//
// A parameter's value object is made lazily: whenever the type was modified,
// the next access makes a new value of the class for the current data type
// (a TDBXNullValue for type 0) attached to the parameter's row.
//
// A server-method call uses the list as follows: the request row is read
// field by field by ordinal; NullOutParameters before the method runs; after
// it, FlushReply starts the row over and flushes every parameter in ordinal
// order with in parameters nulled (see TDBXWritableValue::Flush for the
// errors). Not thread-safe: a list belongs to its command.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"

namespace kds {

class TDBXConnectionHandler;
class TDBXRowBuffer;

class TDBXParameter : public TDBXValueType {
public:
    explicit TDBXParameter(TDBXContext* DBXContext = nullptr) : TDBXValueType(DBXContext) {
        SetModified(true);
    }

    // The value, made again when the type was modified since the last access.
    TDBXWritableValue& Value();
    // The current value object without remaking it (may be nullptr).
    TDBXWritableValue* CurrentValue() const { return FValue.get(); }

    void SetDbxRow(TDBXRow* Row) override;

    TDBXConnectionHandler* ConnectionHandler() const { return FConnectionHandler; }
    void SetConnectionHandler(TDBXConnectionHandler* Handler) { FConnectionHandler = Handler; }
    const std::u16string& TypeName() const { return FTypeName; }
    void SetTypeName(const std::u16string& TypeName) { FTypeName = TypeName; }

    // A parameter with the same type fields (neither caption, row nor value).
    std::unique_ptr<TDBXParameter> Clone() const;

private:
    std::unique_ptr<TDBXWritableValue> FValue;
    TDBXConnectionHandler* FConnectionHandler = nullptr; // not owned
    std::u16string FTypeName;
};

class TDBXParameterList {
public:
    // The row is not owned; it outlives the list.
    TDBXParameterList(TDBXContext* DBXContext, TDBXRow* Row) : FDBXContext(DBXContext), FRow(Row) {}
    TDBXParameterList(const TDBXParameterList&) = delete;
    TDBXParameterList& operator=(const TDBXParameterList&) = delete;

    int32_t Count() const { return static_cast<int32_t>(FParameters.size()); }
    // TDBXError 8 for an ordinal outside the list.
    TDBXParameter& Parameter(int32_t Ordinal) const;
    TDBXParameter& operator[](int32_t Ordinal) const { return Parameter(Ordinal); }
    TDBXRow* Row() const { return FRow; }

    // Grows with new parameters or drops the last ones.
    void SetCount(int32_t Count);
    void AddParameter(std::unique_ptr<TDBXParameter> Parameter);
    // Replaces (and frees) the parameter at Ordinal.
    void SetParameter(int32_t Ordinal, std::unique_ptr<TDBXParameter> Parameter);
    // Ordinal may equal Count (append).
    void InsertParameter(int32_t Ordinal, std::unique_ptr<TDBXParameter> Parameter);
    // Detaches the parameter at Ordinal and hands it over.
    std::unique_ptr<TDBXParameter> RemoveParameter(int32_t Ordinal);
    // Frees every parameter.
    void ClearParameters();
    // Detaches every parameter and hands them over.
    std::vector<std::unique_ptr<TDBXParameter>> RemoveParameters();
    // The ordinal of the first parameter of that name (ASCII letters without
    // regard to case), or -1.
    int32_t GetOrdinal(const std::u16string& Name) const;

    // Before a server method runs: out parameters become null.
    void NullOutParameters();
    // After it ran: the row's buffer is started over (when the row is a
    // buffer row) and every parameter is flushed in ordinal order, in
    // parameters first set to null.
    void FlushReply();

private:
    void CheckOrdinal(int32_t Ordinal, int32_t Limit) const;
    void Attach(TDBXParameter& Parameter, int32_t Ordinal);
    void Renumber(int32_t From);

    TDBXContext* FDBXContext = nullptr; // not owned
    TDBXRow* FRow = nullptr;            // not owned
    std::vector<std::unique_ptr<TDBXParameter>> FParameters;
};

} // namespace kds
