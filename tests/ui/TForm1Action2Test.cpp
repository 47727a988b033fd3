#include <QAction>
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "RecordingDialogs.h"
#include "data/DBXJSON.h"
#include "server/DSServer.h"
#include "server/KDSServerContainerUnit.h"
#include "support/TempDir.h"
#include "ui/CategoryButtons.h"
#include "ui/KDSSV.h"

namespace kds {
namespace {

// The program's server container without a transport, and terminals
// subscribed straight to its repository: what each one's queue receives is
// what its connection thread would deliver.
class TForm1Action2Test : public ::testing::Test {
protected:
    std::shared_ptr<TDSCallbackTunnel> Subscribe(const std::u16string& Channel,
                                                 const std::u16string& Id) {
        return Container.DSServer1().CreateChannelTunnel(Channel, Id, u"cb1", u"tok");
    }

    static std::vector<std::string> Taken(TDSCallbackTunnel& Tunnel) {
        std::vector<std::string> Messages;
        TDSCallbackTunnel::TItem Item;
        while (Tunnel.Pop(Item, 0) == TDSCallbackTunnel::TWaitResult::Item) {
            const auto Bytes = Item->Msg()->ToBytes();
            Messages.push_back(std::string(Bytes.begin(), Bytes.end()) + "/" +
                               std::to_string(Item->ArgType()) +
                               (Item->IsBroadcast() ? "/broadcast" : "/targeted"));
        }
        return Messages;
    }

    test::TTempDir Dir;
    test::TRecordingDialogs Dialogs;
    TServerContainer1 Container{[] { return nullptr; }};
};

TEST_F(TForm1Action2Test, EachPressQueuesOneResetForEverySubscribedTerminal) {
    const auto T1 = Subscribe(u"KDSChannel", u"t1");
    const auto T2 = Subscribe(u"KDSChannel", u"t2");
    const auto Elsewhere = Subscribe(u"kdschannel", u"t3");
    TForm1 Form(Dir.Path(), nullptr, &Container.DSServer1());
    Form.show();
    QApplication::processEvents();

    // The button on the command strip, then the action itself.
    QTest::mouseClick(Form.cb1, Qt::LeftButton, Qt::NoModifier, Form.cb1->ButtonRect(1).center());
    Form.Action2->trigger();
    QApplication::processEvents();

    const std::vector<std::string> TwoResets{"\"reset\"/1/broadcast", "\"reset\"/1/broadcast"};
    EXPECT_EQ(Taken(*T1), TwoResets);
    EXPECT_EQ(Taken(*T2), TwoResets);
    EXPECT_TRUE(Taken(*Elsewhere).empty());
    EXPECT_TRUE(Dialogs.Errors.isEmpty());
}

TEST_F(TForm1Action2Test, WithoutAServerOrAnySubscriberAction2DoesNothing) {
    TForm1 Alone(Dir.Path());
    Alone.Action2->trigger();
    TForm1 Served(Dir.Path(), nullptr, &Container.DSServer1());
    Served.Action2->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(Dialogs.Errors.isEmpty());
    EXPECT_FALSE(Container.DSServer1().HasChannelCallback(u"KDSChannel"));
    // A terminal that subscribes afterwards finds nothing waiting.
    const auto Late = Subscribe(u"KDSChannel", u"late");
    EXPECT_TRUE(Taken(*Late).empty());
}

} // namespace
} // namespace kds
