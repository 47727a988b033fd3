#pragma once

// One prepared server-method call: the method, the instance it runs on, its
// parameter list over the command's row, and its argument values.
//
// Parameters: one per declared parameter, named as declared, then, for a
// method with a result, "ReturnParameter" (direction 4). Direction 3 for Var
// and typed-value parameters (the latter flagged as value parameters), 2 for
// Out, 1 otherwise. Precision, scale, size, child position and flags are 0;
// the sub type is the type's (40 only for objects carried as JSON).
//
// Invoke, given the execute message:
//  1. out parameters become null; table parameters (in, in/out) whose field
//     is not null take the message's incoming readers in order; connection
//     parameters take the connection's database connection; a callback
//     parameter holding a delegate is bound to the connection the request
//     came on (a server callback with the parameter's position);
//  2. the parameter values become argument values (the previous execution's
//     are released first); literal arguments of the command text always win;
//  3. the invoker runs;
//  4. out, in/out and return values go back into their parameters, and the
//     message gets the row, the parameter list and the out-or-return flags;
//  5. whatever happened, incoming readers that no in/out parameter kept are
//     freed, and in table parameters are nulled (freeing their readers).
// Anything the method raises propagates unchanged.
//
// Threads: the command's connection thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/DSMethodValues.h"
#include "server/DSServerMethodProvider.h"

namespace kds {

class TDBXExecuteMessage;
class TDBXParameter;
class TDBXParameterList;
class TDBXRow;
class TDBXWritableValue;

class TDSServerMethod {
public:
    TDSServerMethod(std::shared_ptr<TDSServerMethodProvider> Provider,
                    std::shared_ptr<const TDSMethodInfo> MethodInfo,
                    TDSServerConnectionHandler& ServerConnection, std::unique_ptr<TDBXRow> Row);
    TDSServerMethod(const TDSServerMethod&) = delete;
    TDSServerMethod& operator=(const TDSServerMethod&) = delete;
    // Frees the values, the parameters and a per-invocation instance.
    ~TDSServerMethod();

    void Invoke(TDBXExecuteMessage& Message);
    // Releases the objects the last execution made and the values it left
    // in out, in/out and return parameters. True when all could go.
    bool ClearResources();

    TDBXParameterList& Parameters() const { return *FParameters; }
    TDBXParameter* ReturnParameter() const { return FReturnParameter; }
    bool HasOutOrReturnParameters() const { return FHasOutOrReturnParameters; }
    TDBXRow* Row() const { return FRow.get(); }
    const TDSMethodInfo& MethodInfo() const { return *FMethodInfo; }
    const std::shared_ptr<const TDSMethodInfo>& SharedMethodInfo() const { return FMethodInfo; }
    const TDSMethod& Method() const { return *FMethodInfo->FDsMethod; }
    TDSServerMethodProvider& Provider() const { return *FProvider; }
    TObject* MethodInstance() const { return FMethodInstance; }
    bool HasInvocationLifeCycle() const;

    // The instance the call runs on (life cycles: see the provider).
    void SetInstance(TDSMethodInstance Instance);
    // Life cycle "Invocation": destroys this execution's instance.
    void DestroyInvocationInstance();
    // Life cycle "Invocation": a fresh instance for the next execution.
    void RenewInvocationInstance();

    void SetServerSideCommand(bool Value) { FMethodValues.SetServerSideCommand(Value); }
    // Sets the text of a literal argument into parameter Ordinal (an
    // ordinal outside the declared parameters is TDBXError 8).
    void SetLiteral(int32_t Ordinal, const std::u16string& Text);

private:
    void BuildParameters(TDBXContext* Context);
    void BindCallback(TDBXWritableValue& Value, int32_t Ordinal, TDBXExecuteMessage& Message);
    void AssignParameterValues();
    void AssignArgument(int32_t Ordinal, TDBXParameter& Parameter, TDSArgValue& Arg);
    void ReturnArgument(TDSArgValue& Arg, TDBXParameter& Parameter);
    void ApplyLiterals();
    void ReleaseIncoming(TDBXExecuteMessage& Message, const std::vector<int32_t>& TookTable);

    std::shared_ptr<TDSServerMethodProvider> FProvider;
    std::shared_ptr<const TDSMethodInfo> FMethodInfo;
    TDSServerConnectionHandler* FServerConnection; // not owned
    std::unique_ptr<TDBXRow> FRow;
    std::unique_ptr<TDBXParameterList> FParameters;
    TDBXParameter* FReturnParameter = nullptr;
    bool FHasOutOrReturnParameters = false;
    TObject* FMethodInstance = nullptr;
    TDSInstanceHolder FOwnedInstance;
    TDSMethodValues FMethodValues;
    // Literal argument texts by ordinal (empty optional: none).
    std::vector<std::pair<bool, std::u16string>> FLiterals;
};

} // namespace kds
