#pragma once

// The registry of callable classes and methods of one started server.
//
// Opening it registers DSAdmin, then DSMetadata (life cycle "Session", the
// administrative flag), then the class of every server class component
// attached to the server, in attachment order. A class registers the methods
// of its method table that qualify (see DSReflect.h), its own first, then
// its ancestors'. A method's alias is the class name (the part after its
// last point), a point and the method name; it is found by its search name,
// the alias in ASCII upper case, so lookups never depend on the locale.
//
// Errors (TDBXError):
//   102 "<class> class has already been added to the server class list"
//   103 "<alias> method has already been added to the server method list"
//   104 "<class> class not found in the server class list"
//   105 "<alias> method not found in the server method list"
//     0 "Unknown LifeCycle:  <life cycle>"
//
// Threads: connection threads look methods up, prepare calls and list the
// tables while the administrative create and drop methods change them on
// another connection's thread. The tables are guarded by one shared lock
// (lookups, prepares and listings shared; adds and drops exclusive), and the
// class and method descriptions are shared objects: a call prepared before a
// drop keeps what it uses and still executes until it is prepared again.
// The server-wide instance table (life cycle "Server") has a lock of its own.
//
// Ownership: the server holds the provider from start to stop; every
// prepared call holds it too, so the instances of life cycle "Server" live
// until the last call prepared on this provider is gone.

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/DSInstanceProvider.h"
#include "server/DSReflect.h"

namespace kds {

class TDBXContext;
class TDBXRow;
class TDBXCommandMessage;
class TDSServer;
class TDSServerClass;
class TDSServerConnectionHandler;
class TDSServerMethod;

namespace TDSLifeCycle {
inline constexpr std::u16string_view Session = u"Session";
inline constexpr std::u16string_view Server = u"Server";
inline constexpr std::u16string_view Invocation = u"Invocation";
} // namespace TDSLifeCycle

// One registered class. Immutable once registered.
class TDSClassInfo {
public:
    std::u16string FPackageName;
    std::u16string FClassName;
    std::u16string FUnitName;
    std::u16string FRoleName;
    std::u16string FLifeCycle;
    const TDSClass* FDsClass = nullptr;
    bool FAdminClass = false;
    // The component that published the class; nullptr for the built-in ones.
    TDSServerClass* FServerClass = nullptr;
};

// One registered method. Immutable once registered.
class TDSMethodInfo {
public:
    std::u16string FMethodAlias;
    std::shared_ptr<const TDSClassInfo> FClassInfo;
    std::shared_ptr<const TDSMethod> FDsMethod;
    std::u16string FRoleName;
    std::u16string FMethodName;
    std::u16string FSearchName;
    std::u16string FAuthRole;
};

// The instance a prepared call runs on: either one that a table keeps
// (Instance only) or one of its own (life cycle "Invocation": Owned).
struct TDSMethodInstance {
    TObject* Instance = nullptr;
    TDSInstanceHolder Owned;
};

class TDSServerMethodProvider : public std::enable_shared_from_this<TDSServerMethodProvider> {
public:
    TDSServerMethodProvider(TDSServer* Server, TDBXContext* DbxContext);
    TDSServerMethodProvider(const TDSServerMethodProvider&) = delete;
    TDSServerMethodProvider& operator=(const TDSServerMethodProvider&) = delete;
    ~TDSServerMethodProvider();

    // Builds the registry (see the header comment); on failure the tables are
    // emptied again and the error propagates.
    void Open();
    // Empties the tables and destroys the "Server" instances. Only when no
    // other thread uses the provider and no call prepared on it is alive (the
    // destructor and a failed Open).
    void Close();
    bool IsOpen() const;

    // --- Changing the registry ---
    // Registers a class (102 when its name is taken). A class info without
    // a class description takes the class of that name from the process's
    // class registry (29 when there is none).
    void AddServerClass(std::shared_ptr<TDSClassInfo> ClassInfo);
    // Registers every qualifying method of a registered class (103).
    void AddServerMethods(const std::shared_ptr<const TDSClassInfo>& ClassInfo);
    // Registers one method of a registered class under Alias: 104 when the
    // class is not registered, 105 when the class has no such method, 103
    // when the alias is taken.
    void AddServerMethod(const std::u16string& Alias, const std::u16string& ClassName,
                         const std::u16string& MethodName, const std::u16string& RoleName);
    // Removes a class and all its methods (104).
    void DropServerClass(const std::u16string& ServerClassName);
    // Removes one method by alias, without regard to case (105).
    void DropServerMethod(const std::u16string& MethodAlias);

    // --- Reading the registry (snapshots; safe against concurrent drops) ---
    bool HasServerMethod(std::u16string_view MethodName) const;
    std::shared_ptr<const TDSClassInfo> GetClassInfo(std::u16string_view ClassName) const;
    std::shared_ptr<const TDSMethodInfo> GetMethodInfo(std::u16string_view MethodName) const;
    // In registration order.
    std::vector<std::shared_ptr<const TDSClassInfo>> ClassList() const;
    std::vector<std::shared_ptr<const TDSMethodInfo>> MethodList() const;
    // The methods whose upper-cased alias starts with ClassName upper-cased
    // and a point; every method for an empty name.
    std::vector<std::shared_ptr<const TDSMethodInfo>>
    MethodsOfClass(std::u16string_view ClassName) const;

    // --- Calls ---
    // Resolves the message's command text and prepares a call of it on
    // InRow (taken): parameters, instance, literal arguments. 105 when the
    // name is not registered; TDBXError 8 when the text gives more literal
    // arguments than the method has parameters.
    std::unique_ptr<TDSServerMethod> PrepareMethod(TDSServerConnectionHandler& ServerCon,
                                                   TDBXCommandMessage& Message,
                                                   std::unique_ptr<TDBXRow> InRow);
    // The instance for a call under the class's life cycle.
    TDSMethodInstance GetServerMethodInstance(TDSServerConnectionHandler& ServerCon,
                                              const TDSMethodInfo& MethodInfo);

    TDSServer* Server() const { return FServer; }
    TDBXContext* DbxContext() const { return FDbxContext; }
    // For tests and listings: instances of life cycle "Server" made so far.
    int32_t ServerInstanceCount() const;

private:
    void RegisterBuiltInClasses();
    void AddServerClassLocked(std::shared_ptr<TDSClassInfo> ClassInfo);
    void AddServerMethodsLocked(const std::shared_ptr<const TDSClassInfo>& ClassInfo);
    void AddMethodLocked(std::shared_ptr<TDSMethodInfo> Info);
    std::shared_ptr<const TDSMethodInfo> FindMethodLocked(std::u16string_view Name) const;
    [[noreturn]] void Fail(int32_t Code, const std::string& Message) const;

    TDSServer* FServer;              // not owned
    TDBXContext* FDbxContext;        // not owned
    mutable std::shared_mutex FLock; // guards everything below but the instance table
    bool FOpen = false;
    std::unordered_map<std::u16string, std::shared_ptr<const TDSClassInfo>> FClassTable;
    std::vector<std::shared_ptr<const TDSClassInfo>> FClassList;
    std::unordered_map<std::u16string, std::shared_ptr<const TDSMethodInfo>> FMethodTable;
    std::vector<std::shared_ptr<const TDSMethodInfo>> FMethodSearchNameList;
    std::unique_ptr<TDSHashtableInstanceProvider> FServerInstanceProvider;
};

} // namespace kds
