// kdsterm: its commands run in process against a server on port 0, the
// built program run once, and how it shows values and tables and reads its
// arguments.

#include "kdsterm/KDSTerm.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "base/TextConvert.h"
#include "client/DSClientCommand.h"
#include "client/DSClientConnection.h"
#include "client/DSClientTableReader.h"
#include "data/DBXDataTypes.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"
#include "kdsterm/ChannelWatch.h"
#include "kdsterm/TermOutput.h"
#include "server/DSTCPServerTransport.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSocket.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;

struct TRun {
    int Status;
    std::string Out;
    std::string Err;
};

TRun Term(const std::vector<std::string>& Args) {
    std::ostringstream Out, Err;
    const int Status = RunKDSTerm(Args, Out, Err);
    return {Status, Out.str(), Err.str()};
}

class KDSTermServerTest : public ::testing::Test {
protected:
    KDSTermServerTest()
        : Container([] {
              auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
              T->SetPort(0);
              return T;
          }) {}
    std::string Port() {
        return std::to_string(
            static_cast<TDSTCPServerTransport*>(Container.Transport())->BoundPort());
    }

    TServerContainer1 Container;
};

TEST_F(KDSTermServerTest, ProbePrintsTheHandleAndTheServer) {
    const TRun R = Term({"--port", Port(), "probe"});
    EXPECT_EQ(R.Status, TTermExit::Ok) << R.Err;
    EXPECT_EQ(R.Out, "connection handle 1\nserver KDS, protocol version 2\n");
}

struct TCallCase {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    std::string Out;
    std::string Err; // the start of standard error
};

class KDSTermCallTest : public KDSTermServerTest,
                        public ::testing::WithParamInterface<TCallCase> {};

TEST_P(KDSTermCallTest, CallPrintsTheResultOrTheError) {
    std::vector<std::string> Args = {"--port", Port(), "call"};
    Args.insert(Args.end(), GetParam().Args.begin(), GetParam().Args.end());
    const TRun R = Term(Args);
    EXPECT_EQ(R.Status, GetParam().Status) << R.Err;
    EXPECT_EQ(R.Out, GetParam().Out);
    EXPECT_EQ(R.Err.substr(0, GetParam().Err.size()), GetParam().Err) << R.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, KDSTermCallTest,
    ::testing::Values(
        TCallCase{"Echo", {"TServerMethods1.EchoString", "ab"}, 0, "ab\n", ""},
        TCallCase{"EchoEmpty", {"TServerMethods1.EchoString", ""}, 0, "\n", ""},
        TCallCase{"ReverseUtf8",
                  {"tservermethods1.reversestring", "h\xC3\xA9\xE2\x82\xAC"},
                  0,
                  "\xE2\x82\xAC\xC3\xA9h\n",
                  ""},
        TCallCase{"JsonAsJson",
                  {"DSAdmin.ListClasses"},
                  0,
                  "[\"DSAdmin\",\"DSMetadata\",\"TServerMethods1\"]\n",
                  ""},
        TCallCase{"TextResult", {"DSAdmin.GetPlatformName"}, 0, "win32\n", ""},
        TCallCase{"UnknownMethod",
                  {"Nope.Nothing"},
                  1,
                  "",
                  "105: Remote error: Nope.Nothing method not found in the server method list\n"},
        TCallCase{"TooFewArguments",
                  {"TServerMethods1.EchoString"},
                  64,
                  "",
                  "kdsterm: TServerMethods1.EchoString takes 1 argument (Value), not 0\n"},
        TCallCase{"NoAlias", {}, 64, "", "kdsterm: call needs the alias"}),
    test::TCaseName());

// --- list, describe and table ---------------------------------------------

struct TMetadataCase {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    std::string Out; // the start of standard output (all of it when Whole)
    bool Whole;
    int Lines; // lines of standard output, or -1
    std::string Err;
};

class KDSTermMetadataTest : public KDSTermServerTest,
                            public ::testing::WithParamInterface<TMetadataCase> {};

TEST_P(KDSTermMetadataTest, PrintsTheServersMetadataReadably) {
    std::vector<std::string> Args = {"--port", Port()};
    Args.insert(Args.end(), GetParam().Args.begin(), GetParam().Args.end());
    const TRun R = Term(Args);
    EXPECT_EQ(R.Status, GetParam().Status) << R.Err;
    if (GetParam().Whole)
        EXPECT_EQ(R.Out, GetParam().Out);
    else
        EXPECT_EQ(R.Out.substr(0, GetParam().Out.size()), GetParam().Out) << R.Out;
    if (GetParam().Lines >= 0) {
        EXPECT_EQ(std::count(R.Out.begin(), R.Out.end(), '\n'), GetParam().Lines);
    }
    EXPECT_EQ(R.Err.substr(0, GetParam().Err.size()), GetParam().Err) << R.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, KDSTermMetadataTest,
    ::testing::Values(
        TMetadataCase{"ListClasses",
                      {"list", "classes"},
                      0,
                      "DSAdmin\nDSMetadata\nTServerMethods1\n",
                      true,
                      3,
                      ""},
        TMetadataCase{"ListMethodsOfAClassInAnyCase",
                      {"list", "methods", "tservermethods1"},
                      0,
                      "TServerMethods1.EchoString\nTServerMethods1.ReverseString\n",
                      true,
                      2,
                      ""},
        TMetadataCase{"ListEveryMethod",
                      {"list", "methods"},
                      0,
                      "DSAdmin.GetPlatformName\nDSAdmin.ClearResources\n",
                      false,
                      49,
                      ""},
        TMetadataCase{"DescribeMethod",
                      {"describe", "method", "TServerMethods1.EchoString"},
                      0,
                      "{\"TServerMethods1.EchoString\":{\"Value\":{\"direction\":\"In\",\"type\":"
                      "\"string\"},\"Result\":{\"direction\":\"Return\",\"type\":\"string\"}}}\n",
                      true,
                      1,
                      ""},
        TMetadataCase{
            "DescribeClass", {"describe", "class", "TServerMethods1"}, 0, "{", false, 1, ""},
        // The header, 49 rows and their number; the first column is as wide
        // as the longest alias.
        TMetadataCase{"TableGetServerMethods",
                      {"table", "GetServerMethods"},
                      0,
                      "MethodAlias" + std::string(30, ' ') + "ServerClassName  MethodName" +
                          std::string(23, ' ') + "RoleName\nDSAdmin.GetPlatformName ",
                      false,
                      51,
                      ""},
        TMetadataCase{"TableWithArguments",
                      {"table", "DSMetadata.GetProcedures", "%", "PROCEDURE"},
                      0,
                      "",
                      false,
                      -1,
                      ""},
        TMetadataCase{"TableOfAMethodWithoutOne",
                      {"table", "TServerMethods1.EchoString", "ab"},
                      64,
                      "",
                      true,
                      0,
                      "kdsterm: TServerMethods1.EchoString does not answer a table\n"},
        TMetadataCase{"ListWhat", {"list", "tables"}, 64, "", true, 0, "kdsterm: list takes"},
        TMetadataCase{"DescribeWithoutName",
                      {"describe", "method"},
                      64,
                      "",
                      true,
                      0,
                      "kdsterm: describe takes"},
        TMetadataCase{"TableWithoutMethod", {"table"}, 64, "", true, 0, "kdsterm: table needs"}),
    test::TCaseName());

TEST_F(KDSTermServerTest, TableEndsWithItsRowCount) {
    const TRun R = Term({"--port", Port(), "table", "GetServerMethods"});
    ASSERT_EQ(R.Status, TTermExit::Ok) << R.Err;
    EXPECT_NE(R.Out.find("\nTServerMethods1.ReverseString"), std::string::npos);
    EXPECT_EQ(R.Out.substr(R.Out.size() - 9), "\n49 rows\n");
}

// --- watch ----------------------------------------------------------------

// What the watcher prints, read by the test while the watcher writes.
class TLockedText : public std::streambuf {
public:
    std::string Text() const {
        std::lock_guard<std::mutex> Guard(FLock);
        return FText;
    }

protected:
    int_type overflow(int_type C) override {
        if (C != traits_type::eof()) {
            std::lock_guard<std::mutex> Guard(FLock);
            FText.push_back(static_cast<char>(C));
        }
        return C;
    }
    std::streamsize xsputn(const char* S, std::streamsize N) override {
        std::lock_guard<std::mutex> Guard(FLock);
        FText.append(S, static_cast<size_t>(N));
        return N;
    }

private:
    mutable std::mutex FLock;
    std::string FText;
};

template <typename TCondition> bool WaitUntil(TCondition Condition, int Ms = 5000) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// kdsterm watch run through its command line on a thread of its own, with
// short pauses between rounds.
class KDSTermWatchTest : public KDSTermServerTest {
protected:
    void StartWatch(std::vector<std::string> WatchArgs) {
        std::vector<std::string> Args = {"--port", Port(), "--timeout", "2", "watch"};
        Args.insert(Args.end(), WatchArgs.begin(), WatchArgs.end());
        TWatchHooks Hooks;
        Hooks.Adjust = [](TWatchSettings& S) {
            S.MinBackoff = std::chrono::milliseconds(20);
            S.MaxBackoff = std::chrono::milliseconds(200);
        };
        Hooks.Started = [this](TChannelWatch& W) { Watcher = &W; };
        Thread = std::thread([this, Args, Hooks] { Status = RunKDSTerm(Args, Out, Err, Hooks); });
        ASSERT_TRUE(WaitUntil([this] { return Watcher.load() != nullptr; }));
    }
    ~KDSTermWatchTest() override {
        if (Watcher.load() != nullptr)
            Watcher.load()->Stop();
        if (Thread.joinable())
            Thread.join();
    }
    bool Subscribed(const std::u16string& Id) {
        return WaitUntil(
            [&] { return Container.DSServer1().HasChannelCallback(u"KDSChannel", Id); });
    }
    std::string Printed() const { return OutText.Text(); }

    TLockedText OutText;
    TLockedText ErrText;
    std::ostream Out{&OutText};
    std::ostream Err{&ErrText};
    std::atomic<TChannelWatch*> Watcher{nullptr};
    std::atomic<int> Status{-1};
    std::thread Thread;
};

TEST_F(KDSTermWatchTest, PrintsEachResetAndOtherMessagesAndAnswersThem) {
    StartWatch({"--channel", "KDSChannel", "--id", "t1"});
    ASSERT_TRUE(Subscribed(u"t1")) << ErrText.Text();
    EXPECT_TRUE(BroadcastReset(Container.DSServer1()));
    ASSERT_TRUE(WaitUntil([&] { return Printed() == "reset\n"; })) << Printed();
    // A message a terminal sends to the channel, through kdsterm call.
    const TRun Sent = Term(
        {"--port", Port(), "call", "DSAdmin.BroadcastToChannel", "KDSChannel", "{\"a\":[1,2]}"});
    EXPECT_EQ(Sent.Out, "true\n") << Sent.Err;
    EXPECT_TRUE(BroadcastReset(Container.DSServer1()));
    ASSERT_TRUE(WaitUntil([&] { return Printed() == "reset\n{\"a\":[1,2]}\nreset\n"; }))
        << Printed();
    // Every callback was answered true: the subscription is still there and
    // it was never made again.
    EXPECT_TRUE(Container.DSServer1().HasChannelCallback(u"KDSChannel", u"t1"));
    EXPECT_EQ(Watcher.load()->Subscriptions(), 1);

    Watcher.load()->Stop();
    Thread.join();
    EXPECT_EQ(Status, TTermExit::Ok);
    EXPECT_TRUE(
        WaitUntil([&] { return !Container.DSServer1().HasChannelCallback(u"KDSChannel", u"t1"); }));
}

TEST_F(KDSTermWatchTest, SubscribesAgainWithTheSameIdAfterTheServerRestarts) {
    StartWatch({"--id", "t1"});
    ASSERT_TRUE(Subscribed(u"t1")) << ErrText.Text();
    auto& Transport = static_cast<TDSTCPServerTransport&>(*Container.Transport());
    const uint16_t Bound = Transport.BoundPort();
    Container.DSServer1().Stop();
    // While the server is away the rounds fail and pause.
    ASSERT_TRUE(WaitUntil([&] { return ErrText.Text().find("Cannot reach") != std::string::npos; }))
        << ErrText.Text();
    Transport.SetPort(Bound);
    Container.DSServer1().Start();
    ASSERT_TRUE(Subscribed(u"t1")) << ErrText.Text();
    EXPECT_TRUE(BroadcastReset(Container.DSServer1()));
    ASSERT_TRUE(WaitUntil([&] { return Printed() == "reset\n"; })) << Printed();
    EXPECT_GE(Watcher.load()->Subscriptions(), 2);
}

TEST_F(KDSTermWatchTest, ARefusedIdIsTriedAgainUntilItIsFree) {
    // Another subscriber holds t1; the watcher is refused and keeps trying.
    TChannelWatch Holder(
        {"127.0.0.1", static_cast<uint16_t>(std::stoi(Port())), "KDSChannel", "t1", "cb1", "other"},
        Out, Err);
    std::thread HolderThread([&] { Holder.Run(); });
    ASSERT_TRUE(Subscribed(u"t1"));
    StartWatch({"--id", "T1"});
    ASSERT_TRUE(WaitUntil([&] { return ErrText.Text().find("refused T1") != std::string::npos; }))
        << ErrText.Text();
    Holder.Stop();
    HolderThread.join();
    ASSERT_TRUE(WaitUntil([&] { return Watcher.load()->Subscriptions() >= 2; }));
    ASSERT_TRUE(Subscribed(u"t1"));
    EXPECT_TRUE(BroadcastReset(Container.DSServer1()));
    ASSERT_TRUE(WaitUntil([&] { return Printed() == "reset\n"; })) << Printed();
}

TEST(KDSTermUsageTest, UnreachableServerAndBadCommandLines) {
    // A port nobody listens on.
    uint16_t Free = 0;
    {
        TSocketHandle S(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(S.Get(), reinterpret_cast<sockaddr*>(&A), sizeof A), 0);
        socklen_t L = sizeof A;
        ::getsockname(S.Get(), reinterpret_cast<sockaddr*>(&A), &L);
        Free = ntohs(A.sin_port);
    }
    const TRun Unreachable = Term({"--port", std::to_string(Free), "probe"});
    EXPECT_EQ(Unreachable.Status, TTermExit::Unreachable);
    EXPECT_EQ(Unreachable.Err.rfind("kdsterm: Cannot reach 127.0.0.1:", 0), 0u) << Unreachable.Err;
    EXPECT_EQ(Term({}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"--port", "0", "probe"}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"--port"}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"--colour", "x", "probe"}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"watch", "--id"}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"watch", "--id", ""}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"watch", "--colour", "x"}).Status, TTermExit::Usage);
    EXPECT_EQ(Term({"probe", "extra"}).Status, TTermExit::Usage);
    const TRun Help = Term({"--help"});
    EXPECT_EQ(Help.Status, TTermExit::Ok);
    EXPECT_EQ(Help.Out.rfind("usage: kdsterm", 0), 0u);
}

#ifdef KDSTERM_PROGRAM
TEST_F(KDSTermServerTest, BuiltProgramCallsEchoString) {
    const std::string Command =
        std::string(KDSTERM_PROGRAM) + " --port " + Port() + " call TServerMethods1.EchoString ab";
    FILE* Pipe = ::popen(Command.c_str(), "r");
    ASSERT_NE(Pipe, nullptr);
    std::string Out;
    char Buffer[256];
    while (size_t N = std::fread(Buffer, 1, sizeof Buffer, Pipe))
        Out.append(Buffer, N);
    const int Status = ::pclose(Pipe);
    EXPECT_TRUE(WIFEXITED(Status));
    EXPECT_EQ(WEXITSTATUS(Status), 0);
    EXPECT_EQ(Out, "ab\n");
}
#endif

// --- Values, tables and arguments -----------------------------------------

TEST(KDSTermTableTest, TableIsPrintedInAlignedColumnsWithEveryBatch) {
    auto Memory = std::make_unique<test::TMemoryChannel>();
    test::TMemoryChannel& Channel = *Memory;
    TDSClientConnection Connection;
    Connection.Open(std::move(Memory));
    auto Rows = [](std::initializer_list<std::pair<std::u16string, int64_t>> Values) {
        TDBXRowBuffer B;
        std::vector<uint8_t> Overflow;
        for (const auto& [Text, N] : Values) {
            B.WriteWideString(Text, Overflow);
            B.WriteInt64(N);
        }
        return test::TBytes(B.Data(), B.Data() + B.Size());
    };
    const test::TBytes First = Rows({{u"EchoString", 1}, {u"x\ny", 22}});
    const test::TBytes Last = Rows({{u"\u20AC\u20AC", 333}});
    Channel.Feed("{\"result\":[{\"handle\":[0]},{\"parameters\":[1,"
                 "[23,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}");
    Channel.Feed(Concat({Bytes("{\"result\":[{\"data\":[2,\x61\x01]},{\"table\":[{\"fields\":"
                               "[0,false,1,1,true]},{\"columns\":[2,[\"MethodAlias\",26,0,0,0,"
                               "256,0,0],[\"N\",6,0,0,0,4,0,0]]}]}]}{\"data\":[" +
                               std::to_string(First.size()) + ","),
                         First, Bytes("]}{\"data\":[-" + std::to_string(Last.size()) + ","), Last,
                         Bytes("]}")}));
    auto Command = Connection.Prepare(u"T.List");
    Command->Execute();
    std::ostringstream Out;
    EXPECT_EQ(PrintTable(*Command->Table(0), Out), 3);
    EXPECT_EQ(Out.str(), "MethodAlias  N\n"
                         "EchoString   1\n"
                         "x\\ny         22\n"
                         "\xE2\x82\xAC\xE2\x82\xAC           333\n");
}

struct TArgumentCase {
    const char* Name;
    int32_t DataType;
    std::string Argument;
    bool Accepted;
    std::string Shown; // ValueText of the value set, when accepted
};

class KDSTermArgumentTest : public ::testing::TestWithParam<TArgumentCase> {};

TEST_P(KDSTermArgumentTest, ArgumentsAreReadByTheParameterType) {
    const TArgumentCase& Case = GetParam();
    TDBXParameter P;
    P.SetName(u"P");
    P.SetDataType(Case.DataType);
    P.SetParameterDirection(TDBXParameterDirections::InParameter);
    if (!Case.Accepted) {
        EXPECT_THROW(SetArgument(P, Case.Argument), TDSArgumentError);
        return;
    }
    SetArgument(P, Case.Argument);
    EXPECT_EQ(ValueText(P.Value()), Case.Shown);
}

namespace DT = TDBXDataTypes;

INSTANTIATE_TEST_SUITE_P(
    Arguments, KDSTermArgumentTest,
    ::testing::Values(TArgumentCase{"Text", DT::WideStringType, "h\xC3\xA9", true, "h\xC3\xA9"},
                      TArgumentCase{"Int32", DT::Int32Type, "-42", true, "-42"},
                      TArgumentCase{"Int32NotANumber", DT::Int32Type, "4x", false, ""},
                      TArgumentCase{"Int32Empty", DT::Int32Type, "", false, ""},
                      TArgumentCase{"Int8OutOfRange", DT::Int8Type, "300", false, ""},
                      TArgumentCase{"Int64Max", DT::Int64Type, "9223372036854775807", true,
                                    "9223372036854775807"},
                      TArgumentCase{"BooleanTrue", DT::BooleanType, "true", true, "true"},
                      TArgumentCase{"BooleanYes", DT::BooleanType, "yes", false, ""},
                      TArgumentCase{"Json", DT::JsonValueType, "{\"a\":[1,true]}", true,
                                    "{\"a\":[1,true]}"},
                      TArgumentCase{"JsonBroken", DT::JsonValueType, "{\"a\":", false, ""},
                      TArgumentCase{"DateCannotBePassed", DT::DateType, "2024-01-01", false, ""}),
    test::TCaseName());

} // namespace
} // namespace kds
