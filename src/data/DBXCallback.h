#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace kds {

class TJSONValue;
// Forward declarations of the server-side classes a callback is bound to.
// This unit only stores and hands on the pointers; it never dereferences them.
class TDBXConnectionHandler;
class TDSServer;

// The root of anything passed as a plain (non-JSON) object through the object
// form of a callback: a minimal polymorphic base so that receivers can
// dynamic_cast to what they expect and owners can delete through it.
class TObject {
public:
    virtual ~TObject() = default;
};

// A callback: reference counted. A new callback starts with a count of 0;
// every holder calls AddRef when it stores it and Release when it lets go.
// Release frees the object when the count drops to 0 or below, so a callback
// never stored (count 0) is freed by a single Release. Create callbacks with
// new, never on the stack, and never delete one directly.
// AddRef and Release may be called from any thread; everything else belongs
// to whichever thread currently uses the callback (no locking).
class TDBXCallback {
public:
    TDBXCallback() = default;
    TDBXCallback(const TDBXCallback&) = delete;
    TDBXCallback& operator=(const TDBXCallback&) = delete;

    // Calls the callback with a JSON argument. Arg stays the caller's; the
    // answer (may be nullptr) belongs to the caller.
    virtual std::unique_ptr<TJSONValue> Execute(TJSONValue* Arg) = 0;
    // The same with a plain object (argument type 2); Arg stays the caller's.
    virtual std::unique_ptr<TObject> Execute(TObject* Arg) = 0;

    // Returns the new count.
    virtual int32_t AddRef();
    // Returns the new count; at 0 or below the object has been freed.
    virtual int32_t Release();

    virtual void SetConnectionHandler(TDBXConnectionHandler* Handler);
    virtual void SetDsServer(TDSServer* Server);
    virtual void SetOrdinal(int32_t Ordinal);
    // Whether the connection the callback writes to has gone; false here.
    virtual bool GetConnectionLost() const;

    int32_t RefCount() const { return FFRefCount.load(); }

protected:
    virtual ~TDBXCallback() = default;

private:
    std::atomic<int32_t> FFRefCount{0};
};

// A callback that forwards to another one (the delegate), which the
// invocation binds to a server-side callback on the caller's connection.
// Without a delegate both Execute forms answer nullptr and ConnectionLost is
// false. The three settings are kept here and passed on to the delegate
// whenever it is set and whenever they change while one is set. The delegate
// is counted: SetDelegate calls AddRef on the new one and Release on the one
// it replaces, and destroying the delegate callback releases it (which frees
// it unless someone else holds a reference).
class TDBXCallbackDelegate : public TDBXCallback {
public:
    TDBXCallbackDelegate() = default;

    std::unique_ptr<TJSONValue> Execute(TJSONValue* Arg) override;
    std::unique_ptr<TObject> Execute(TObject* Arg) override;

    void SetConnectionHandler(TDBXConnectionHandler* Handler) override;
    void SetDsServer(TDSServer* Server) override;
    void SetOrdinal(int32_t Ordinal) override;
    // Forwarded to the delegate, so that a tunnel serving through a delegate
    // notices a lost connection.
    bool GetConnectionLost() const override;

    void SetDelegate(TDBXCallback* Delegate);
    TDBXCallback* Delegate() const { return FDelegate; }
    TDBXConnectionHandler* ConnectionHandler() const { return FConnectionHandler; }
    TDSServer* DsServer() const { return FDsServer; }
    int32_t Ordinal() const { return FOrdinal; }

protected:
    ~TDBXCallbackDelegate() override;

private:
    TDBXCallback* FDelegate = nullptr; // one counted reference
    TDBXConnectionHandler* FConnectionHandler = nullptr;
    TDSServer* FDsServer = nullptr;
    int32_t FOrdinal = 0;
};

} // namespace kds
