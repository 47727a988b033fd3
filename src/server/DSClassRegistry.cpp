#include "server/DSClassRegistry.h"

#include <algorithm>

#include "server/DSAdmin.h"
#include "server/DSReflect.h"
#include "server/KDSServerMethodsUnit.h"

namespace kds {

TDSClassRegistry& TDSClassRegistry::Instance() {
    static TDSClassRegistry Registry;
    return Registry;
}

TDSClassRegistry::TDSClassRegistry() {
    FClasses = {&DSAdmin::ClassInfo(), &DSMetadata::ClassInfo(), &TServerMethods1::ClassInfo()};
}

void TDSClassRegistry::RegisterClass(const TDSClass& Class) {
    std::lock_guard<std::mutex> Guard(FLock);
    for (const TDSClass*& Known : FClasses) {
        if (Known->ClassName() == Class.ClassName()) {
            Known = &Class;
            return;
        }
    }
    FClasses.push_back(&Class);
}

bool TDSClassRegistry::UnregisterClass(std::u16string_view ClassName) {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = std::find_if(FClasses.begin(), FClasses.end(),
                                 [&](const TDSClass* C) { return C->ClassName() == ClassName; });
    if (It == FClasses.end())
        return false;
    FClasses.erase(It);
    return true;
}

const TDSClass* TDSClassRegistry::FindClass(std::u16string_view ClassName) const {
    std::lock_guard<std::mutex> Guard(FLock);
    for (const TDSClass* C : FClasses)
        if (C->ClassName() == ClassName)
            return C;
    return nullptr;
}

std::vector<const TDSClass*> TDSClassRegistry::Classes() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FClasses;
}

} // namespace kds
