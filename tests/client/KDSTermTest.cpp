// kdsterm: its commands run in process against a server on port 0, the
// built program run once, and how it shows values and tables and reads its
// arguments.

#include "kdsterm/KDSTerm.h"

#include <arpa/inet.h>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <vector>

#include "base/TextConvert.h"
#include "client/DSClientCommand.h"
#include "client/DSClientConnection.h"
#include "client/DSClientTableReader.h"
#include "data/DBXDataTypes.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"
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
    EXPECT_EQ(Term({"watch"}).Status, TTermExit::Usage);
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
