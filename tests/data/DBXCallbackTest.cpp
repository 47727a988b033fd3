#include "data/DBXCallback.h"

#include <gtest/gtest.h>

#include "data/DBXJSON.h"

using namespace kds;

namespace {

// A callback that records what reaches it and when it is freed.
class TRecordingCallback : public TDBXCallback {
public:
    explicit TRecordingCallback(bool& Freed) : FFreed(Freed) {}

    std::unique_ptr<TJSONValue> Execute(TJSONValue* Arg) override {
        return std::make_unique<TJSONString>(u"got " + Arg->Value());
    }
    std::unique_ptr<TObject> Execute(TObject* Arg) override {
        LastObject = Arg;
        return std::make_unique<TObject>();
    }
    void SetConnectionHandler(TDBXConnectionHandler* Handler) override { Handler_ = Handler; }
    void SetDsServer(TDSServer* Server) override { Server_ = Server; }
    void SetOrdinal(int32_t Ordinal) override { Ordinal_ = Ordinal; }
    bool GetConnectionLost() const override { return Lost; }

    TObject* LastObject = nullptr;
    TDBXConnectionHandler* Handler_ = nullptr;
    TDSServer* Server_ = nullptr;
    int32_t Ordinal_ = -1;
    bool Lost = false;

protected:
    ~TRecordingCallback() override { FFreed = true; }

private:
    bool& FFreed;
};

TDBXConnectionHandler* FakeHandler() {
    return reinterpret_cast<TDBXConnectionHandler*>(0x1000);
}
TDSServer* FakeServer() {
    return reinterpret_cast<TDSServer*>(0x2000);
}

TEST(TDBXCallbackTest, ReleaseFreesWhenTheCountDropsToZeroOrBelow) {
    bool Freed = false;
    auto* Never = new TRecordingCallback(Freed);
    EXPECT_EQ(Never->RefCount(), 0);
    EXPECT_EQ(Never->Release(), -1); // never stored: freed by one Release
    EXPECT_TRUE(Freed);

    Freed = false;
    auto* Held = new TRecordingCallback(Freed);
    EXPECT_EQ(Held->AddRef(), 1);
    EXPECT_EQ(Held->AddRef(), 2);
    EXPECT_EQ(Held->Release(), 1);
    EXPECT_FALSE(Freed);
    EXPECT_EQ(Held->Release(), 0);
    EXPECT_TRUE(Freed);
}

TEST(TDBXCallbackDelegateTest, WithoutDelegateAnswersNothing) {
    auto* D = new TDBXCallbackDelegate();
    D->AddRef();
    TJSONString Arg(u"x");
    EXPECT_EQ(D->Execute(&Arg), nullptr);
    TObject Obj;
    EXPECT_EQ(D->Execute(&Obj), nullptr);
    EXPECT_FALSE(D->GetConnectionLost());
    D->Release();
}

TEST(TDBXCallbackDelegateTest, ForwardsCallsAndSettingsToItsDelegate) {
    bool Freed = false;
    auto* D = new TDBXCallbackDelegate();
    D->AddRef();
    D->SetOrdinal(4); // kept until a delegate arrives
    D->SetDsServer(FakeServer());
    auto* Inner = new TRecordingCallback(Freed);
    D->SetDelegate(Inner);
    EXPECT_EQ(Inner->RefCount(), 1);
    EXPECT_EQ(Inner->Ordinal_, 4);
    EXPECT_EQ(Inner->Server_, FakeServer());
    D->SetConnectionHandler(FakeHandler());
    EXPECT_EQ(Inner->Handler_, FakeHandler());
    EXPECT_EQ(D->ConnectionHandler(), FakeHandler());

    TJSONString Arg(u"reset");
    std::unique_ptr<TJSONValue> Answer = D->Execute(&Arg);
    ASSERT_NE(Answer, nullptr);
    EXPECT_EQ(Answer->Value(), u"got reset");
    TObject Obj;
    EXPECT_NE(D->Execute(&Obj), nullptr);
    EXPECT_EQ(Inner->LastObject, &Obj);
    Inner->Lost = true;
    EXPECT_TRUE(D->GetConnectionLost());

    D->Release();
    EXPECT_TRUE(Freed);
}

TEST(TDBXCallbackDelegateTest, ReleasesItsDelegateOnReplaceAndDestroy) {
    bool FirstFreed = false;
    bool SecondFreed = false;
    auto* D = new TDBXCallbackDelegate();
    D->AddRef();
    auto* First = new TRecordingCallback(FirstFreed);
    First->AddRef(); // someone else holds it too
    D->SetDelegate(First);
    D->SetDelegate(new TRecordingCallback(SecondFreed));
    EXPECT_FALSE(FirstFreed);
    EXPECT_EQ(First->RefCount(), 1);
    D->SetDelegate(D->Delegate()); // same delegate: no change
    EXPECT_FALSE(SecondFreed);
    D->Release();
    EXPECT_TRUE(SecondFreed);
    First->Release();
    EXPECT_TRUE(FirstFreed);
}

} // namespace
