// Sessions: the user-name rule, data keys, status, authorization, the thread
// slot and the session manager.

#include "server/wire/DSSession.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/TextConvert.h"
#include "server/wire/DBXProperties.h"

namespace kds {
namespace {

TDBXProperties User(const std::u16string& Name) {
    TDBXProperties P;
    if (!Name.empty())
        P.SetValue(u"DSAuthenticationUser", Name);
    return P;
}

TEST(TDSSessionTest, TakesTheUserNameOnlyWhileItIsEmpty) {
    TDSTCPSession S;
    const TDBXProperties None = User(u"");
    const TDBXProperties First = User(u"kitchen-1");
    const TDBXProperties Other = User(u"kitchen-2");
    EXPECT_TRUE(S.Authenticate(&None));
    EXPECT_EQ(S.UserName(), u"");
    EXPECT_TRUE(S.Authenticate(&First));
    EXPECT_EQ(S.UserName(), u"kitchen-1");
    EXPECT_TRUE(S.Authenticate(&Other));
    EXPECT_EQ(S.UserName(), u"kitchen-1");
}

TEST(TDSSessionTest, StoresDataKeysInLowerCase) {
    TDSTCPSession S;
    S.PutData(u"RemoteIP", u"10.1.2.3");
    EXPECT_EQ(S.GetData(u"remoteip"), u"10.1.2.3");
    EXPECT_TRUE(S.HasData(u"REMOTEIP"));
    S.PutData(u"remoteIP", u"10.9.9.9");
    EXPECT_EQ(S.GetData(u"RemoteIP"), u"10.9.9.9");
    S.RemoveData(u"REMOTEip");
    EXPECT_FALSE(S.HasData(u"RemoteIP"));
    EXPECT_EQ(S.GetData(u"RemoteIP"), u"");
}

TEST(TDSSessionTest, AsksForAuthorizationForAllButTwoExactAliases) {
    TDSTCPSession S;
    EXPECT_FALSE(S.RequiresAuthorization(u"DSMetadata.GetDatabase"));
    EXPECT_FALSE(S.RequiresAuthorization(u"DSAdmin.GetPlatformName"));
    EXPECT_TRUE(S.RequiresAuthorization(u"dsmetadata.getdatabase"));
    EXPECT_TRUE(S.RequiresAuthorization(u"TServerMethods1.EchoString"));
    EXPECT_TRUE(S.Authorize(u"TServerMethods1.EchoString"));
    std::vector<std::u16string> Allowed{u"x"}, Denied{u"y"};
    S.GetAuthRoles(u"A.B", Allowed, Denied);
    EXPECT_TRUE(Allowed.empty());
    EXPECT_TRUE(Denied.empty());
}

// Expiry needs a duration; a TCP session (duration 0) never expires.
class TAgedSession : public TDSSession {
public:
    void Age(uint32_t Milliseconds) { FLastActivity = GetTickCount32() - Milliseconds; }
    void SetStatus(TDSSessionStatus S) { FStatus = S; }
};

TEST(TDSSessionTest, ExpiresOnlyWithADurationAndAfterIt) {
    TDSTCPSession Tcp;
    EXPECT_EQ(Tcp.GetStatus(), TDSSessionStatus::Active);
    EXPECT_EQ(Tcp.Duration(), 0);

    TAgedSession S;
    S.MarkActivity();
    S.Age(5000);
    EXPECT_EQ(S.GetStatus(), TDSSessionStatus::Active) << "no duration, no expiry";
    S.SetDuration(10000);
    EXPECT_GE(S.ExpiresIn(), 4000);
    EXPECT_EQ(S.GetStatus(), TDSSessionStatus::Active);
    S.SetDuration(1000);
    EXPECT_EQ(S.ExpiresIn(), 0);
    EXPECT_EQ(S.GetStatus(), TDSSessionStatus::Expired);
    EXPECT_FALSE(S.IsValid());

    TAgedSession C;
    C.SetDuration(1000);
    C.Age(5000);
    C.SetStatus(TDSSessionStatus::Closed);
    EXPECT_EQ(C.GetStatus(), TDSSessionStatus::Closed) << "only live sessions expire";
}

// The tick difference is unsigned: a last activity "ahead" of a wrapped
// clock still gives the right small elapsed time.
TEST(TDSSessionTest, MeasuresElapsedTimeAcrossATickWrap) {
    TAgedSession S;
    S.Age(100);
    EXPECT_GE(S.ElapsedSinceLastActvity(), 100u);
    EXPECT_LT(S.ElapsedSinceLastActvity(), 100000u);
    const uint32_t Now = GetTickCount32();
    const uint32_t Before = Now - 0x80000000u; // half the range back, possibly across 0
    EXPECT_EQ(Now - Before, 0x80000000u);
}

TEST(TDSSessionTest, ClosesAndTerminatesToClosed) {
    TDSTCPSession A, B;
    A.Close();
    B.Terminate();
    EXPECT_EQ(A.GetStatus(), TDSSessionStatus::Closed);
    EXPECT_EQ(B.GetStatus(), TDSSessionStatus::Closed);
}

TEST(TDSSessionTest, ClearsTheThreadSlotOnEveryWayOut) {
    TDSTCPSession S;
    try {
        TDSThreadSessionScope Scope(&S);
        EXPECT_EQ(TDSSessionManager::GetThreadSession(), &S);
        throw std::runtime_error("method failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), nullptr);
    {
        auto Gone = std::make_unique<TDSTCPSession>();
        TDSSessionManager::SetAsThreadSession(Gone.get());
    }
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), nullptr) << "a freed session leaves the slot";
}

TEST(TDSSessionTest, KeepsOneSlotPerThread) {
    TDSTCPSession Mine, Theirs;
    TDSThreadSessionScope Scope(&Mine);
    TDSSession* SeenThere = &Mine;
    std::thread Other([&] {
        SeenThere = TDSSessionManager::GetThreadSession();
        TDSThreadSessionScope Inner(&Theirs);
    });
    Other.join();
    EXPECT_EQ(SeenThere, nullptr);
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), &Mine);
}

// Ids from many threads at once: the locked generator gives well-formed,
// distinct ids.
TEST(TDSSessionTest, GeneratesSessionIdsFromManyThreads) {
    const std::regex Form("^[0-9]{1,6}\\.[0-9]{1,6}\\.[0-9]{1,6}$");
    std::vector<std::vector<std::u16string>> Ids(4);
    std::vector<std::thread> Threads;
    for (auto& Mine : Ids)
        Threads.emplace_back([&Mine] {
            for (int I = 0; I < 500; ++I)
                Mine.push_back(TDSSession::GenerateSessionId());
        });
    for (auto& T : Threads)
        T.join();
    std::set<std::u16string> Distinct;
    for (const auto& Mine : Ids)
        for (const auto& Id : Mine) {
            EXPECT_TRUE(std::regex_match(Utf16ToUtf8(Id), Form)) << Utf16ToUtf8(Id);
            Distinct.insert(Id);
        }
    EXPECT_EQ(Distinct.size(), 2000u);
}

TEST(TDSSessionManagerTest, ClosesNamedSessionsAndTellsListenersWhoMayFail) {
    TDSSessionManager& M = TDSSessionManager::Instance();
    std::vector<std::pair<std::u16string, bool>> Told;
    const int32_t A = M.AddSessionEvent(
        [&](TDSSession& S, bool Terminated) { Told.emplace_back(S.UserName(), Terminated); });
    const int32_t B = M.AddSessionEvent([](TDSSession&, bool) { throw std::runtime_error("x"); });
    auto S1 = std::make_unique<TDSSession>();
    S1->SetUserName(u"one");
    auto S2 = std::make_unique<TDSSession>();
    S2->SetUserName(u"two");
    const std::u16string Id1 = M.AddSession(std::move(S1));
    const std::u16string Id2 = M.AddSession(std::move(S2));
    EXPECT_NE(Id1, Id2);
    EXPECT_EQ(M.GetSessionCount(), 2);
    EXPECT_TRUE(M.CloseSession(Id1));
    EXPECT_FALSE(M.CloseSession(Id1));
    M.TerminateAllSessions();
    EXPECT_EQ(M.GetSessionCount(), 0);
    M.RemoveSessionEvent(A);
    M.RemoveSessionEvent(B);
    EXPECT_EQ(Told,
              (std::vector<std::pair<std::u16string, bool>>{{u"one", false}, {u"two", true}}));
}

} // namespace
} // namespace kds
