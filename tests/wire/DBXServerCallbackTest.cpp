// Callbacks to the client: the request written, the answers read, and the
// binding to the connection thread and the running request.

#include "server/wire/DBXServerCallback.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>

#include "data/DBXJSON.h"
#include "support/ExpectError.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"
#include "support/WireStack.h"

namespace kds {
namespace {

using test::Bytes;
using test::Show;
using test::TBytes;

const std::string Execute = "{\"method\":\"execute\",\"params\":[{\"handle\":[-1]},{\"data\":[1,"
                            "\x02]}]}";
const std::string CallbackRequest = "{\"callback\":[31,[4,1,{\"broadcast\":[\"reset\",1]}]]}";

std::unique_ptr<TJSONObject> Broadcast() {
    auto Message = std::make_unique<TJSONObject>();
    auto* Args = new TJSONArray();
    Args->Add(u"reset");
    Args->Add(int32_t(1));
    Message->AddPair(u"broadcast", Args);
    return Message;
}

// Keeps a counted callback for the length of a test.
struct TCallbackRef {
    TDBXServerCallback* Callback;
    explicit TCallbackRef(TDBXServerCallback* C) : Callback(C) { Callback->AddRef(); }
    ~TCallbackRef() { Callback->Release(); }
    TDBXServerCallback* operator->() const { return Callback; }
};

// A server method that calls back once with the broadcast and keeps what
// came back (or what was raised).
struct TCallingMethod {
    std::u16string Answer;
    int32_t ErrorCode = -1;
    std::string ErrorText;
    void Install(test::TWireStack& S) {
        S.Fake().OnExecute = [this](TDBXExecuteMessage& M) {
            TCallbackRef Callback(new TDBXServerCallback(M.GetConnectionHandler(), nullptr, 4));
            auto Message = Broadcast();
            try {
                std::unique_ptr<TJSONValue> Result = Callback->Execute(Message.get());
                Answer = Result ? Result->ToString() : u"(none)";
            } catch (const TDBXError& E) {
                ErrorCode = E.ErrorCode();
                ErrorText = E.Message();
            }
            M.FHasOutOrReturnParameters = false;
        };
    }
};

struct TAnswerCase {
    std::string Name;
    TBytes Answer;
    std::u16string Result; // empty: an error is expected
    int32_t Code;
    std::string Text;
};

class CallbackAnswerTest : public ::testing::TestWithParam<TAnswerCase> {};

TEST_P(CallbackAnswerTest, WritesTheCallbackAndReadsTheAnswer) {
    for (int32_t Chunk : {0, 1}) {
        test::TWireStack S;
        TCallingMethod Method;
        Method.Install(S);
        S.Channel().SetChunkSize(Chunk);
        S.Channel().Feed(test::Concat({Bytes(Execute), GetParam().Answer}));
        S.Serve();
        ASSERT_GE(S.Channel().Writes().size(), 1u);
        EXPECT_EQ(Show(S.Channel().Writes()[0]), CallbackRequest);
        if (GetParam().Result.empty()) {
            EXPECT_EQ(Method.ErrorCode, GetParam().Code) << Method.ErrorText;
            if (!GetParam().Text.empty()) {
                EXPECT_EQ(Method.ErrorText, GetParam().Text);
            }
        } else {
            EXPECT_EQ(Method.ErrorCode, -1) << Method.ErrorText;
            EXPECT_EQ(Method.Answer, GetParam().Result);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CallbackAnswerTest,
    ::testing::Values(
        TAnswerCase{"DataTrue", Bytes("{\"data\":[4,true]}"), u"true", 0, ""},
        TAnswerCase{"DataObjectInUtf8", Bytes("{\"data\":[10,{\"a\":\"\xC3\xA9\"}]}"),
                    u"{\"a\":\"\u00E9\"}", 0, ""},
        TAnswerCase{"ErrorObject",
                    Bytes("{\"error\":{\"name\":\"E\",\"code\":17,\"message\":\"client says no\"}"),
                    u"", 17, "client says no"},
        TAnswerCase{"WrongKey", Bytes("{\"x\":[1]}"), u"", 32, "Invalid callback message format"},
        TAnswerCase{"NotJson", Bytes("{\"data\":[3,abc]}"), u"", 32,
                    "Cannot parse properly the callback output argument"},
        TAnswerCase{"BadUtf8", Bytes("{\"data\":[3,\"\xFF\"]}"), u"", 32,
                    "Cannot parse properly the callback output argument"},
        TAnswerCase{"HugeCount", Bytes("{\"data\":[2000000000,"), u"", 2, ""},
        TAnswerCase{"NegativeCount", Bytes("{\"data\":[-4,true]}"), u"", 2, ""}),
    test::TCaseName());

// A wrong-key answer is passed over, so that the connection stays in step.
TEST(TDBXServerCallbackTest, StaysInStepAfterAWrongKeyAnswer) {
    test::TWireStack S;
    TCallingMethod Method;
    Method.Install(S);
    S.Channel().Feed(Execute + "{\"x\":[1,{\"y\":2}]}" +
                     "{\"method\":\"txend\",\"params\":[true,0]}");
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(Method.ErrorCode, 32);
    const std::string Written = S.Channel().WrittenText();
    EXPECT_EQ(Written.substr(Written.size() - 13), "{\"result\":[]}");
}

// Used outside its request or from another thread, a callback writes nothing.
TEST(TDBXServerCallbackTest, RefusesToRunOutsideItsRequestOrThread) {
    test::TWireStack S;
    TDBXServerCallback* Kept = nullptr;
    int32_t OtherThreadCode = -1;
    S.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
        Kept = new TDBXServerCallback(M.GetConnectionHandler(), nullptr, 4);
        Kept->AddRef();
        std::thread Other([&] {
            auto Message = Broadcast();
            try {
                Kept->Execute(Message.get());
            } catch (const TDBXError& E) {
                OtherThreadCode = E.ErrorCode();
            }
        });
        Other.join();
        M.FHasOutOrReturnParameters = false;
    };
    S.Channel().Feed(Execute);
    S.Serve();
    ASSERT_NE(Kept, nullptr);
    EXPECT_EQ(OtherThreadCode, 30);
    const size_t WritesAfterRequest = S.Channel().Writes().size();
    auto Message = Broadcast();
    test::ExpectDBXError(30, "The callback is not bound to the running request",
                         [&] { Kept->Execute(Message.get()); });
    EXPECT_EQ(S.Channel().Writes().size(), WritesAfterRequest);
    EXPECT_EQ(S.Channel().WrittenText(), "{\"result\":[]}") << "no callback ever left";
    Kept->Release();
}

TEST(TDBXServerCallbackTest, RefusesObjectArgumentsAndReportsTheConnection) {
    test::TWireStack S;
    bool Lost = true;
    int32_t ObjectCode = -1;
    S.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
        TCallbackRef Callback(new TDBXServerCallback(M.GetConnectionHandler(), nullptr, 1));
        Lost = Callback->GetConnectionLost();
        TObject Plain;
        try {
            Callback->Execute(&Plain);
        } catch (const TDBXError& E) {
            ObjectCode = E.ErrorCode();
        }
        M.FHasOutOrReturnParameters = false;
    };
    S.Channel().Feed(Execute);
    S.Serve();
    EXPECT_FALSE(Lost);
    EXPECT_EQ(ObjectCode, 5);
    TCallbackRef Unbound(new TDBXServerCallback());
    test::ExpectDBXErrorCode(30, [&] { Unbound->Execute(static_cast<TJSONValue*>(nullptr)); });
}

} // namespace
} // namespace kds
