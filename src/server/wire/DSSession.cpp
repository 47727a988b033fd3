#include "server/wire/DSSession.h"

#include <chrono>
#include <random>

#include "base/AsciiText.h"
#include "server/wire/DBXProperties.h"

namespace kds {

namespace {

thread_local TDSSession* ThreadSession = nullptr;

std::u16string LowerKey(const std::u16string& Key) {
    return AsciiLowerCase(std::u16string_view(Key));
}

std::u16string ToText(const std::string& Text) {
    return std::u16string(Text.begin(), Text.end());
}

} // namespace

uint32_t GetTickCount32() {
    const auto Now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Now).count());
}

TDSSession::TDSSession() {
    FStartDateTime = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    FLastActivity = GetTickCount32();
}

TDSSession::~TDSSession() {
    if (ThreadSession == this)
        ThreadSession = nullptr;
}

void TDSSession::MarkActivity() {
    FStatus = TDSSessionStatus::Active;
    FLastActivity = GetTickCount32();
}

uint32_t TDSSession::ElapsedSinceLastActvity() const {
    // Unsigned: the difference is right across a wrap of the tick count.
    return GetTickCount32() - FLastActivity;
}

int64_t TDSSession::ExpiresIn() const {
    const int64_t Elapsed = ElapsedSinceLastActvity();
    return Elapsed >= FDuration ? 0 : FDuration - Elapsed;
}

TDSSessionStatus TDSSession::GetStatus() {
    const bool Live = FStatus == TDSSessionStatus::Active || FStatus == TDSSessionStatus::Idle ||
                      FStatus == TDSSessionStatus::Connected;
    if (Live && FDuration > 0 && int64_t(ElapsedSinceLastActvity()) > FDuration)
        FStatus = TDSSessionStatus::Expired;
    return FStatus;
}

bool TDSSession::IsValid() {
    const TDSSessionStatus S = GetStatus();
    return S == TDSSessionStatus::Active || S == TDSSessionStatus::Idle ||
           S == TDSSessionStatus::Connected;
}

void TDSSession::PutData(const std::u16string& Key, const std::u16string& Value) {
    FMetaData[LowerKey(Key)] = Value;
}

std::u16string TDSSession::GetData(const std::u16string& Key) const {
    const auto At = FMetaData.find(LowerKey(Key));
    return At != FMetaData.end() ? At->second : std::u16string();
}

bool TDSSession::HasData(const std::u16string& Key) const {
    return FMetaData.count(LowerKey(Key)) != 0;
}

void TDSSession::RemoveData(const std::u16string& Key) {
    FMetaData.erase(LowerKey(Key));
}

bool TDSSession::Authenticate(const TDBXProperties* ConnectionProps) {
    if (FUserName.empty() && ConnectionProps != nullptr)
        FUserName = ConnectionProps->GetValue(UserProperty);
    return true;
}

bool TDSSession::RequiresAuthorization(const std::u16string& MethodAlias) const {
    return MethodAlias != u"DSMetadata.GetDatabase" && MethodAlias != u"DSAdmin.GetPlatformName";
}

void TDSSession::GetAuthRoles(const std::u16string&, std::vector<std::u16string>& AuthorizedRoles,
                              std::vector<std::u16string>& DeniedRoles) const {
    AuthorizedRoles.clear();
    DeniedRoles.clear();
}

bool TDSSession::Authorize(const std::u16string&) {
    return true;
}

std::u16string TDSSession::GenerateSessionId() {
    static std::mutex Lock;
    static std::mt19937 Generator(std::random_device{}());
    std::uniform_int_distribution<int32_t> Part(0, 999999);
    int32_t A = 0, B = 0, C = 0;
    {
        std::lock_guard<std::mutex> Guard(Lock);
        A = Part(Generator);
        B = Part(Generator);
        C = Part(Generator);
    }
    return ToText(std::to_string(A) + "." + std::to_string(B) + "." + std::to_string(C));
}

TDSTCPSession::TDSTCPSession(void* AuthManager) : TDSAuthSession(AuthManager) {
    FDuration = 0;
    FStatus = TDSSessionStatus::Idle;
    MarkActivity();
}

// ---------------------------------------------------------------------------

TDSSessionManager& TDSSessionManager::Instance() {
    static TDSSessionManager Manager;
    return Manager;
}

TDSSession* TDSSessionManager::GetThreadSession() {
    return ThreadSession;
}

void TDSSessionManager::SetAsThreadSession(TDSSession* Session) {
    ThreadSession = Session;
}

void TDSSessionManager::ClearThreadSession() {
    ThreadSession = nullptr;
}

std::u16string TDSSessionManager::AddSession(std::unique_ptr<TDSSession> Session) {
    std::lock_guard<std::mutex> Guard(FLock);
    std::u16string Name = Session->SessionName();
    while (Name.empty() || FSessionContainer.count(Name) != 0)
        Name = TDSSession::GenerateSessionId();
    Session->SetSessionName(Name);
    FSessionContainer[Name] = std::move(Session);
    return Name;
}

bool TDSSessionManager::EndSession(const std::u16string& SessionId, bool Terminated) {
    std::unique_ptr<TDSSession> Session;
    std::vector<TDSSessionEvent> Listeners;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        const auto At = FSessionContainer.find(SessionId);
        if (At == FSessionContainer.end())
            return false;
        Session = std::move(At->second);
        FSessionContainer.erase(At);
        for (const auto& Entry : FListeners)
            Listeners.push_back(Entry.second);
    }
    if (Terminated)
        Session->Terminate();
    else
        Session->Close();
    // Listeners are told outside the lock, so that they may use the manager.
    for (const auto& Listener : Listeners) {
        try {
            Listener(*Session, Terminated);
        } catch (...) {
        }
    }
    return true;
}

bool TDSSessionManager::CloseSession(const std::u16string& SessionId) {
    return EndSession(SessionId, false);
}

bool TDSSessionManager::TerminateSession(const std::u16string& SessionId) {
    return EndSession(SessionId, true);
}

void TDSSessionManager::TerminateAllSessions(const void* Creator) {
    for (const std::u16string& Id : GetOpenSessionKeys()) {
        bool Match = Creator == nullptr;
        if (!Match) {
            std::lock_guard<std::mutex> Guard(FLock);
            const auto At = FSessionContainer.find(Id);
            Match = At != FSessionContainer.end() && At->second->Creator() == Creator;
        }
        if (Match)
            TerminateSession(Id);
    }
}

std::vector<std::u16string> TDSSessionManager::GetOpenSessionKeys() const {
    std::lock_guard<std::mutex> Guard(FLock);
    std::vector<std::u16string> Keys;
    for (const auto& Entry : FSessionContainer)
        Keys.push_back(Entry.first);
    return Keys;
}

int32_t TDSSessionManager::GetSessionCount() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return static_cast<int32_t>(FSessionContainer.size());
}

void TDSSessionManager::ForEachSession(const std::function<void(TDSSession&)>& Visit) const {
    std::lock_guard<std::mutex> Guard(FLock);
    for (const auto& Entry : FSessionContainer)
        Visit(*Entry.second);
}

int32_t TDSSessionManager::AddSessionEvent(TDSSessionEvent Listener) {
    std::lock_guard<std::mutex> Guard(FLock);
    const int32_t Id = FNextListenerId++;
    FListeners[Id] = std::move(Listener);
    return Id;
}

void TDSSessionManager::RemoveSessionEvent(int32_t ListenerId) {
    std::lock_guard<std::mutex> Guard(FLock);
    FListeners.erase(ListenerId);
}

} // namespace kds
