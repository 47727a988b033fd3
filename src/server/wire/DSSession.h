#pragma once

// Sessions: the server's per-client context (who the client said it is,
// free-form data, status and inactivity), and the per-thread slot holding the
// session the thread is serving.
//
// A TCP connection gets one TDSTCPSession, made by its protocol handler at
// the first batch of requests and installed as the thread's current session
// for each batch (TDSThreadSessionScope clears it on every way out). A TCP
// session never expires (duration 0) and is never entered in the session
// manager.
//
// Rules:
// - the user name is taken from the connect property "DSAuthenticationUser"
//   only while it is still empty;
// - data keys are stored in lower case (ASCII): "RemoteIP" and "remoteip"
//   are one key;
// - authorization is required for every method but the exact aliases
//   "DSMetadata.GetDatabase" and "DSAdmin.GetPlatformName"; without an
//   authentication manager authentication and authorization always succeed;
// - status starts Idle, becomes Active at creation and on activity, Closed on
//   Close and Terminate, Expired only when the duration is above 0 and the
//   time since the last activity exceeds it;
// - ticks are 32-bit milliseconds of a steady clock; differences wrap.
//
// Threads: a session is used by its connection's thread only, so it has no
// lock. The thread slot is per thread. The session manager's map and the
// session id generator have their own locks.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kds {

class TDBXProperties;

enum class TDSSessionStatus : int32_t {
    Active = 0,
    Closed = 1,
    Idle = 2,
    Terminated = 3,
    Connected = 4,
    Expired = 5
};

// The 32-bit millisecond tick count of a steady clock (wraps after ~49 days).
uint32_t GetTickCount32();

class TDSSession {
public:
    static constexpr const char16_t* UserProperty = u"DSAuthenticationUser";

    TDSSession();
    TDSSession(const TDSSession&) = delete;
    TDSSession& operator=(const TDSSession&) = delete;
    // Clears the thread slot if it still points at this session.
    virtual ~TDSSession();

    void MarkActivity();
    // Ticks since the last activity, wrapping on 32 bits.
    uint32_t ElapsedSinceLastActvity() const;
    // Duration minus elapsed, or 0 once the duration is used up.
    int64_t ExpiresIn() const;
    TDSSessionStatus GetStatus();
    bool IsValid();
    virtual void Close() { FStatus = TDSSessionStatus::Closed; }
    virtual void Terminate() { FStatus = TDSSessionStatus::Closed; }

    void PutData(const std::u16string& Key, const std::u16string& Value);
    std::u16string GetData(const std::u16string& Key) const;
    bool HasData(const std::u16string& Key) const;
    void RemoveData(const std::u16string& Key);

    // Takes the user name from the properties when it is empty; answers
    // whether the client may connect.
    virtual bool Authenticate(const TDBXProperties* ConnectionProps);
    bool RequiresAuthorization(const std::u16string& MethodAlias) const;
    // Both lists stay empty without an authentication manager.
    virtual void GetAuthRoles(const std::u16string& MethodAlias,
                              std::vector<std::u16string>& AuthorizedRoles,
                              std::vector<std::u16string>& DeniedRoles) const;
    virtual bool Authorize(const std::u16string& MethodAlias);

    const std::u16string& UserName() const { return FUserName; }
    void SetUserName(const std::u16string& UserName) { FUserName = UserName; }
    const std::u16string& SessionName() const { return FSessionName; }
    void SetSessionName(const std::u16string& Name) { FSessionName = Name; }
    int64_t Duration() const { return FDuration; }
    void SetDuration(int64_t Milliseconds) { FDuration = Milliseconds; }
    const std::vector<std::u16string>& UserRoles() const { return FUserRoles; }
    // The transport whose thread serves the session; not owned, opaque here.
    const void* Creator() const { return FCreator; }
    void SetCreator(const void* Creator) { FCreator = Creator; }
    // Milliseconds since 1970 when the session was made.
    int64_t StartDateTime() const { return FStartDateTime; }
    // The session's identity.
    intptr_t GetId() const { return reinterpret_cast<intptr_t>(this); }

    // "%d.%d.%d" of three random numbers 0..999999 from one generator seeded
    // once per process, taken under a lock.
    static std::u16string GenerateSessionId();

protected:
    int64_t FStartDateTime = 0;
    int64_t FDuration = 0;
    TDSSessionStatus FStatus = TDSSessionStatus::Idle;
    uint32_t FLastActivity = 0;
    std::u16string FUserName;
    std::u16string FSessionName;
    std::map<std::u16string, std::u16string> FMetaData;
    std::vector<std::u16string> FUserRoles;
    const void* FCreator = nullptr;
};

// A session with an authentication manager (none here: every ask succeeds).
class TDSAuthSession : public TDSSession {
public:
    explicit TDSAuthSession(void* AuthManager) : FAuthManager(AuthManager) {}

    void* AuthManager() const { return FAuthManager; }

private:
    void* FAuthManager = nullptr; // not owned
};

class TDSTCPSession : public TDSAuthSession {
public:
    // Duration 0, status Idle, then marked active.
    explicit TDSTCPSession(void* AuthManager = nullptr);
};

// Notified when a named session of the manager is closed or terminated.
using TDSSessionEvent = std::function<void(TDSSession& Session, bool Terminated)>;

// The process-wide manager of named sessions (TCP sessions are never entered)
// and the per-thread current session.
class TDSSessionManager {
public:
    static TDSSessionManager& Instance();

    // The calling thread's slot.
    static TDSSession* GetThreadSession();
    static void SetAsThreadSession(TDSSession* Session);
    static void ClearThreadSession();

    // Takes the session under its name (a new id when it has none); answers
    // the name.
    std::u16string AddSession(std::unique_ptr<TDSSession> Session);
    // Removes the named session under the lock, marks it Closed (Terminate:
    // terminated), tells every listener (their errors are swallowed) and
    // frees it. False when there is no such session.
    bool CloseSession(const std::u16string& SessionId);
    bool TerminateSession(const std::u16string& SessionId);
    // Every session, or those made by one creator.
    void TerminateAllSessions(const void* Creator = nullptr);
    std::vector<std::u16string> GetOpenSessionKeys() const;
    int32_t GetSessionCount() const;
    void ForEachSession(const std::function<void(TDSSession&)>& Visit) const;
    // A listener is added once per id; answers the id to remove it with.
    int32_t AddSessionEvent(TDSSessionEvent Listener);
    void RemoveSessionEvent(int32_t ListenerId);

private:
    bool EndSession(const std::u16string& SessionId, bool Terminated);

    mutable std::mutex FLock; // guards FSessionContainer and FListeners
    std::map<std::u16string, std::unique_ptr<TDSSession>> FSessionContainer;
    std::map<int32_t, TDSSessionEvent> FListeners;
    int32_t FNextListenerId = 1;
};

// Installs a session as the calling thread's current one and clears the
// slot when it goes, whatever way the scope is left.
class TDSThreadSessionScope {
public:
    explicit TDSThreadSessionScope(TDSSession* Session) {
        TDSSessionManager::SetAsThreadSession(Session);
    }
    ~TDSThreadSessionScope() { TDSSessionManager::ClearThreadSession(); }
    TDSThreadSessionScope(const TDSThreadSessionScope&) = delete;
    TDSThreadSessionScope& operator=(const TDSThreadSessionScope&) = delete;
};

} // namespace kds
