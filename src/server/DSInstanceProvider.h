#pragma once

// Instance tables: which object a server method runs on.
//
// A TDSHashtableInstanceProvider keeps one instance per class name (ASCII
// case folding), made on first use and destroyed with the table, newest
// first. The server keeps one for classes with life cycle "Server" (shared
// by every connection: such classes must be safe to call from several
// connection threads at once); each connection keeps one for life cycle
// "Session".
//
// Making an instance: the server class component's OnCreateInstance may
// supply one; otherwise the class is constructed. Destroying one: the
// component's OnDestroyInstance (as it was when the instance was made) may
// take it; otherwise it is freed.
//
// Threads: GetInstance and Count take the table's lock, so one table may be
// shared by connection threads; destruction needs no caller to be inside.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/DSEventObjects.h"

namespace kds {

class TDSClassInfo;
class TObject;

// An instance with what destroying it needs; frees it (through the destroy
// event when one was set) when it goes.
class TDSInstanceHolder {
public:
    TDSInstanceHolder() = default;
    TDSInstanceHolder(std::unique_ptr<TObject> Instance, TDSDestroyInstanceEvent OnDestroy,
                      TDSEventObject Event);
    TDSInstanceHolder(TDSInstanceHolder&&) noexcept = default;
    TDSInstanceHolder& operator=(TDSInstanceHolder&& Other) noexcept;
    ~TDSInstanceHolder() { Reset(); }

    TObject* Get() const { return FInstance.get(); }
    explicit operator bool() const { return FInstance != nullptr; }
    // Destroys the instance now.
    void Reset() noexcept;

private:
    std::unique_ptr<TObject> FInstance;
    TDSDestroyInstanceEvent FOnDestroy;
    TDSEventObject FEvent;
};

// Makes an instance of the class: the server class's OnCreateInstance first,
// else the class's own factory. Event describes the context (server,
// connection).
TDSInstanceHolder CreateServerClassInstance(const TDSClassInfo& ClassInfo, TDSEventObject Event);

class TDSInstanceProvider {
public:
    virtual ~TDSInstanceProvider() = default;
    // The instance of the class for this connection (nullptr: none known).
    virtual TObject* GetInstance(TDSServerConnectionHandler* ServerCon,
                                 const TDSClassInfo& ClassInfo) = 0;
};

class TDSHashtableInstanceProvider : public TDSInstanceProvider {
public:
    // Event: context, server and transport that every instance made here is
    // told about.
    explicit TDSHashtableInstanceProvider(TDSEventObject Event = {}) : FEvent(Event) {}
    ~TDSHashtableInstanceProvider() override;

    TObject* GetInstance(TDSServerConnectionHandler* ServerCon,
                         const TDSClassInfo& ClassInfo) override;
    int32_t Count() const;

private:
    struct TItem {
        std::u16string FInstanceClassName; // upper case
        TDSInstanceHolder FInstance;
    };

    TDSEventObject FEvent;
    mutable std::mutex FLock; // guards FList
    // Oldest first; destroyed from the back.
    std::vector<TItem> FList;
};

} // namespace kds
