#pragma once

// Method tables: how a class tells the server which methods it publishes.
//
// C++ has no run-time description of a class's methods, so every class that
// the server can call declares its methods once, in a table read by
// registration, by the listings (DescribeMethod, GetServerMethods, ...) and
// by invocation alike:
//
//   TDSMethodDecl{u"EchoString",                    method name
//                 {{u"Value", u"string"}},          parameters: name, declared
//                                                   type, In / Var / Out
//                 u"string",                        result type (empty: none)
//                 &InvokeEchoString}                the invoker
//
// A TDSClass holds the table of one class, its ancestor (whose methods it
// inherits: its own methods are listed first, then the ancestor's, then the
// ancestor's ancestor's) and the factory that makes an instance.
//
// Declared type names and the data type each gives (names compared with
// ASCII case folding; simple names as another language writes them are
// normalised first: "UnicodeString" -> "String", "int" -> "Integer", ...):
//
//   simple type                                   code
//   --------------------------------------------  ----
//   string, String; WideString (not Var/Out)        26
//   AnsiString 1, Integer 6, TDateTime 11, Currency 25, TDBXTime 10,
//   TDBXDate 2, Double 7, Single 27, Int64 18, Byte 29, ShortInt 28,
//   Word 12, SmallInt 5, Boolean 4, OleVariant 35
//
//   class type (unit)                              code  sub type
//   ---------------------------------------------  ----  --------
//   TDBXReader and its kin (DBXCommon)               23    0
//   TDataSet, TParams (DBXCommon)                    23    0
//   TDBXConnection (DBXCommon)                       34    0
//   TStream (DBXCommon)                              33    0
//   typed-value classes TDBXWideStringValue 26, TDBXAnsiStringValue 1,
//   TDBXUInt8Value 29, TDBXInt8Value 28, TDBXUInt16Value 12,
//   TDBXInt16Value 5, TDBXInt32Value 6, TDBXInt64Value 18,
//   TDBXSingleValue 27, TDBXDoubleValue 7, TDBXBcdValue 8, TDBXTimeValue 10,
//   TDBXDateValue 2, TDBXTimeStampValue 24, TDBXTimeStampOffsetValue 36,
//   TDBXBooleanValue 4, TDBXReaderValue 23, TDBXConnectionValue 34,
//   TDBXJSONValue 37, TDBXStreamValue 33 (DBXCommon)         sub type 0
//   TJSONValue, TJSONObject, TJSONArray, TJSONString, TJSONNumber,
//   TJSONTrue, TJSONFalse, TJSONNull (DBXJSON)       37    0
//   TDBXCallback (DBXJSON)                           38    0
//   TObject (DBXJSON): any other object, carried     37    40
//   as its JSON
//
// Any other name has no data type. A method qualifies for registration only
// when it is neither a constructor nor a destructor, its result is none or a
// type with a data type but not a typed-value class, every parameter type has
// a data type, and no typed-value parameter is declared Var or Out; the rest
// are left out silently.
//
// Tables and classes are immutable once built; any thread may read them.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kds {

class TObject;
class TDSMethodValues;

// How a parameter is declared: by value (In), var (in and out) or out.
enum class TDSParamFlag : uint8_t { In, Var, Out };

struct TDSParameterDecl {
    TDSParameterDecl(std::u16string Name, std::u16string TypeName,
                     TDSParamFlag Flag = TDSParamFlag::In)
        : Name(std::move(Name)), TypeName(std::move(TypeName)), Flag(Flag) {}

    std::u16string Name;
    std::u16string TypeName;
    TDSParamFlag Flag;
};

// Runs the method on Instance (an instance of the declaring class or of a
// class derived from it) with the call's values. What it raises reaches the
// client as the error reply.
using TDSInvoker = void (*)(TObject& Instance, TDSMethodValues& Values);

struct TDSMethodDecl {
    TDSMethodDecl(std::u16string Name, std::vector<TDSParameterDecl> Parameters,
                  std::u16string ResultType, TDSInvoker Invoker, std::u16string AuthRole = {})
        : Name(std::move(Name)), Parameters(std::move(Parameters)),
          ResultType(std::move(ResultType)), Invoker(Invoker), AuthRole(std::move(AuthRole)) {}

    std::u16string Name;
    std::vector<TDSParameterDecl> Parameters;
    // Empty: the method has no result.
    std::u16string ResultType;
    TDSInvoker Invoker;
    // A role restriction of the method (none in this program).
    std::u16string AuthRole;
    bool IsConstructor = false;
    bool IsDestructor = false;
};

// What a declared type name gives.
struct TDSTypeInfo {
    // The name as declared (after normalisation); empty for no result.
    std::u16string TypeName;
    // The unit of a class type, else empty.
    std::u16string UnitName;
    bool IsClass = false;
    // A typed-value class: passed as the value object itself.
    bool IsValueClass = false;
    // 0: no data type.
    int32_t DataType = 0;
    int32_t SubType = 0;

    bool IsVoid() const { return TypeName.empty(); }
    bool HasDataType() const { return DataType != 0; }
};

// The normalised name ("UnicodeString" -> "String", "int" -> "Integer",
// "unsigned short" -> "Word", ...); any other name unchanged.
std::u16string NormaliseTypeName(std::u16string_view TypeName);
// The type a declared name gives; Flag matters for WideString.
TDSTypeInfo ResolveType(std::u16string_view TypeName, TDSParamFlag Flag = TDSParamFlag::In);

class TDSClass;

// The description of one method, ready to be registered and called.
class TDSMethod {
public:
    TDSMethod(const TDSClass& MethodClass, const TDSMethodDecl& Decl);

    const std::u16string& MethodName() const { return FMethodName; }
    // The class that declares the method.
    const TDSClass& MethodClass() const { return *FMethodClass; }
    int32_t ParameterCount() const { return static_cast<int32_t>(FParameterTypes.size()); }
    const TDSTypeInfo& ParameterType(int32_t Index) const { return FParameterTypes.at(Index); }
    const std::u16string& ParameterName(int32_t Index) const { return FParameterNames.at(Index); }
    TDSParamFlag ParameterFlag(int32_t Index) const { return FParameterFlags.at(Index); }
    const TDSTypeInfo& ReturnType() const { return FReturnType; }
    bool HasResult() const { return !FReturnType.IsVoid(); }
    TDSInvoker Invoker() const { return FInvoker; }
    const std::u16string& AuthRole() const { return FAuthRole; }
    bool IsConstructor() const { return FIsConstructor; }
    bool IsDestructor() const { return FIsDestructor; }
    bool IsPublicMethod() const { return true; }
    bool IsStaticMethod() const { return false; }

    // The rules of the header comment.
    bool Qualifies() const;

private:
    std::u16string FMethodName;
    const TDSClass* FMethodClass;
    std::vector<TDSTypeInfo> FParameterTypes;
    std::vector<std::u16string> FParameterNames;
    std::vector<TDSParamFlag> FParameterFlags;
    TDSTypeInfo FReturnType;
    TDSInvoker FInvoker;
    std::u16string FAuthRole;
    bool FIsConstructor;
    bool FIsDestructor;
};

// The description of one class: its name, unit, ancestor, factory and method
// table. Define each as a function-local static so that an ancestor is built
// before the classes that derive from it.
class TDSClass {
public:
    using TFactory = std::unique_ptr<TObject> (*)();

    TDSClass(std::u16string ClassName, std::u16string UnitName, const TDSClass* Ancestor,
             TFactory Factory, std::vector<TDSMethodDecl> Methods, std::u16string AuthRole = {});
    TDSClass(const TDSClass&) = delete;
    TDSClass& operator=(const TDSClass&) = delete;

    const std::u16string& ClassName() const { return FClassName; }
    const std::u16string& UnitName() const { return FUnitName; }
    const TDSClass* Ancestor() const { return FAncestor; }
    const std::u16string& AuthRole() const { return FAuthRole; }
    // A new instance; TDBXError 5 for a class without a factory.
    std::unique_ptr<TObject> CreateInstance() const;

    // The methods declared by this class alone, as declared.
    const std::vector<TDSMethodDecl>& OwnMethods() const { return FDecls; }
    // Every method that qualifies: this class's first, then each ancestor's,
    // in declaration order.
    const std::vector<std::shared_ptr<const TDSMethod>>& Methods() const { return FMethods; }
    // The qualifying method of that name (ASCII case folding), or nullptr.
    std::shared_ptr<const TDSMethod> FindMethod(std::u16string_view MethodName) const;
    // This class or one of its ancestors is Other.
    bool InheritsFrom(const TDSClass& Other) const;

private:
    std::u16string FClassName;
    std::u16string FUnitName;
    const TDSClass* FAncestor;
    TFactory FFactory;
    std::vector<TDSMethodDecl> FDecls;
    std::u16string FAuthRole;
    std::vector<std::shared_ptr<const TDSMethod>> FMethods;
};

// The instance an invoker receives, as the class it declared.
template <typename T> T& DSSelf(TObject& Instance) {
    return static_cast<T&>(Instance);
}

} // namespace kds
