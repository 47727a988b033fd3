#pragma once

// The process's registry of classes by name: what FindClasses and
// FindMethods list and where CreateServerClasses finds a class by name. It
// holds exactly the classes the program registered, in registration order:
// DSAdmin, DSMetadata and TServerMethods1, entered when it is first used.
//
// Threads: any; the registry has its own lock. Classes are static and never
// freed.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kds {

class TDSClass;

class TDSClassRegistry {
public:
    static TDSClassRegistry& Instance();

    // Adds a class (a class of the same name is replaced in place).
    void RegisterClass(const TDSClass& Class);
    // Removes the class of that name; false when there is none.
    bool UnregisterClass(std::u16string_view ClassName);
    // The class of that name (exact case), or nullptr.
    const TDSClass* FindClass(std::u16string_view ClassName) const;
    // In registration order.
    std::vector<const TDSClass*> Classes() const;

private:
    TDSClassRegistry();

    mutable std::mutex FLock; // guards FClasses
    std::vector<const TDSClass*> FClasses;
};

} // namespace kds
