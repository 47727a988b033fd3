#include "server/DSInstanceProvider.h"

#include "base/AsciiText.h"
#include "data/DBXCallback.h"
#include "server/DSReflect.h"
#include "server/DSServer.h"
#include "server/DSServerMethodProvider.h"

namespace kds {

TDSInstanceHolder::TDSInstanceHolder(std::unique_ptr<TObject> Instance,
                                     TDSDestroyInstanceEvent OnDestroy, TDSEventObject Event)
    : FInstance(std::move(Instance)), FOnDestroy(std::move(OnDestroy)), FEvent(Event) {}

TDSInstanceHolder& TDSInstanceHolder::operator=(TDSInstanceHolder&& Other) noexcept {
    if (this != &Other) {
        Reset();
        FInstance = std::move(Other.FInstance);
        FOnDestroy = std::move(Other.FOnDestroy);
        FEvent = Other.FEvent;
    }
    return *this;
}

void TDSInstanceHolder::Reset() noexcept {
    if (!FInstance)
        return;
    if (FOnDestroy) {
        TDSDestroyInstanceEventObject Event;
        static_cast<TDSEventObject&>(Event) = FEvent;
        Event.ServerClassInstance = std::move(FInstance);
        try {
            FOnDestroy(Event);
        } catch (...) {
            // A destroy handler that fails still lets the instance go.
        }
        // Whatever the handler left is freed here.
        Event.ServerClassInstance.reset();
    }
    FInstance.reset();
    FOnDestroy = nullptr;
}

TDSInstanceHolder CreateServerClassInstance(const TDSClassInfo& ClassInfo, TDSEventObject Event) {
    TDSServerClass* ServerClass = ClassInfo.FServerClass;
    std::unique_ptr<TObject> Instance;
    TDSDestroyInstanceEvent OnDestroy;
    if (ServerClass != nullptr) {
        OnDestroy = ServerClass->OnDestroyInstance;
        if (ServerClass->OnCreateInstance) {
            TDSCreateInstanceEventObject Create;
            static_cast<TDSEventObject&>(Create) = Event;
            Create.ServerClass = ServerClass;
            ServerClass->OnCreateInstance(Create);
            Instance = std::move(Create.ServerClassInstance);
        }
    }
    if (!Instance)
        Instance = ClassInfo.FDsClass->CreateInstance();
    return TDSInstanceHolder(std::move(Instance), std::move(OnDestroy), Event);
}

TDSHashtableInstanceProvider::~TDSHashtableInstanceProvider() {
    // Newest first.
    while (!FList.empty())
        FList.pop_back();
}

TObject* TDSHashtableInstanceProvider::GetInstance(TDSServerConnectionHandler* ServerCon,
                                                   const TDSClassInfo& ClassInfo) {
    const std::u16string Key = AsciiUpperCase(ClassInfo.FClassName);
    std::lock_guard<std::mutex> Guard(FLock);
    for (const TItem& Item : FList)
        if (Item.FInstanceClassName == Key)
            return Item.FInstance.Get();
    TDSEventObject Event = FEvent;
    if (ServerCon != nullptr)
        Event.ServerConnectionHandler = ServerCon;
    TItem Item{Key, CreateServerClassInstance(ClassInfo, Event)};
    TObject* Instance = Item.FInstance.Get();
    FList.push_back(std::move(Item));
    return Instance;
}

int32_t TDSHashtableInstanceProvider::Count() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return static_cast<int32_t>(FList.size());
}

} // namespace kds
