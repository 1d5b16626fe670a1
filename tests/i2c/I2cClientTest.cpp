// The client: borrowing the interface, owning the bus, the register
// operations and the notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "sim/bus/Eeprom.h"
#include "tests/i2c/ClientFixture.h"
#include "tuner/Memory.h"

namespace {

using I2cClientTest = ClientTest;

// Leaves a recognisable pattern where the next calls will keep their locals.
__attribute__((noinline)) void DirtyStack()
{
    volatile uint8_t junk[8192];
    for (size_t i = 0; i < sizeof(junk); ++i) junk[i] = 0xA5;
}

bool AllZero(const BYTE (&bytes)[3])
{
    return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0;
}

// ---- Construction ---------------------------------------------------------------------

TEST_F(I2cClientTest, ConstructionBorrowsTheInterfaceAndLeavesTheBusClosed)
{
    EXPECT_EQ(client->BridgeDevice, Bridge().Device());
    EXPECT_EQ(client->BusClockRate, 10000u);
    EXPECT_EQ(client->Cookie, 0u);
    EXPECT_EQ(client->InUse, 0u);
    EXPECT_EQ(Bridge().Counters().Queries, 1u);
    EXPECT_EQ(Bridge().InterfaceReferences(), 1);  // kept for the adapter's life
    EXPECT_TRUE(Bridge().Calls().empty());

    // The constructor leaves CurrentAddress alone.
    client->SetAddress(0x42);
    uint32_t code = 0xFFFF;
    I2cClient* again = new (client, sizeof(I2cClient)) I2cClient(Bridge().Device(), &code);
    EXPECT_EQ(code, ConstructionOk);
    EXPECT_EQ(again->CurrentAddress, 0x42);
}

TEST_F(I2cClientTest, PlacementYieldsNoObjectForAWrongSize)
{
    alignas(I2cClient) uint8_t block[sizeof(I2cClient) + 4] = {};
    uint32_t code = 0x1234;
    EXPECT_EQ(new (block, sizeof(block)) I2cClient(Bridge().Device(), &code), nullptr);
    EXPECT_EQ(new (block, sizeof(I2cClient) - 1) I2cClient(Bridge().Device(), &code), nullptr);
    EXPECT_EQ(code, 0x1234u);  // no constructor ran
    EXPECT_EQ(Bridge().Counters().Queries, 1u);
}

TEST_F(I2cClientTest, ConstructionWaitsForAQueryTheBridgeCompletesLater)
{
    for (auto completion : {sim::QueryCompletion::PendingOtherThread, sim::QueryCompletion::PendingExplicit}) {
        SCOPED_TRACE(completion == sim::QueryCompletion::PendingOtherThread ? "other thread" : "explicit");
        sim::I2cBus bus;
        sim::CaptureBridge bridge(bus);
        bridge.SetQueryCompletion(completion);
        alignas(I2cClient) uint8_t block[sizeof(I2cClient)] = {};
        uint32_t code = 0xFFFF;
        I2cClient* pending = nullptr;
        std::thread constructing([&] { pending = new (block, sizeof(block)) I2cClient(bridge.Device(), &code); });
        if (completion == sim::QueryCompletion::PendingExplicit) {
            ASSERT_TRUE(bridge.WaitForPendingQuery(std::chrono::seconds(5)));
            EXPECT_TRUE(bridge.CompletePendingQuery());
        }
        constructing.join();
        EXPECT_EQ(code, ConstructionOk);
        ASSERT_NE(pending, nullptr);
        EXPECT_TRUE(pending->OpenBus());
        EXPECT_TRUE(pending->CloseBus());
    }
}

TEST_F(I2cClientTest, WithoutAnInterfaceEveryOperationFailsWithoutABridgeCall)
{
    struct Case {
        const char* name;
        sim::InterfaceOffer offer;
        bool noIrp;
        uint32_t queries;
    } cases[] = {
        {"not offered", sim::InterfaceOffer::NotOffered, false, 1},
        {"no open routine", sim::InterfaceOffer::NoOpenRoutine, false, 1},
        {"no access routine", sim::InterfaceOffer::NoAccessRoutine, false, 1},
        {"no IRP for the query", sim::InterfaceOffer::Offered, true, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        if (k.noIrp) sim::FailNthIrpAllocation(1);
        I2cBench lacking(k.offer);
        lacking.Bus.Attach(ChipAddress, &chip);
        EXPECT_EQ(lacking.ConstructionCode(), ConstructionNoInterface);
        EXPECT_EQ(lacking.Bridge.Counters().Queries, k.queries);
        I2cClient& c = *lacking.Client();
        EXPECT_EQ(c.BridgeDevice, nullptr);
        c.SetAddress(ChipAddress);

        uint8_t bytes[2] = {0x05, 0x11};
        I2cTransfer transfer = {};
        transfer.DeviceAddress = ChipAddress;
        transfer.WriteCount = 2;
        transfer.WriteBuffer = bytes;
        int64_t before = sim::InterruptTime();
        EXPECT_FALSE(c.OpenBus());
        EXPECT_FALSE(c.OpenBusWithRetry());
        EXPECT_FALSE(c.CloseBus());
        EXPECT_FALSE(c.NotifyStandard(0x10));
        EXPECT_FALSE(c.NotifyCountry(1));
        EXPECT_FALSE(c.NotifyMode(1));
        EXPECT_FALSE(c.ExecuteTransfer(transfer));
        EXPECT_FALSE(c.PerformTransfer(transfer));
        EXPECT_FALSE(c.WriteBytes(2, bytes));
        EXPECT_FALSE(c.ReadRegisters(1, bytes, bytes + 1));
        EXPECT_TRUE(lacking.Bridge.Calls().empty());
        EXPECT_EQ(sim::InterruptTime(), before);  // no retrying for an interface that cannot appear
    }
}

// ---- Opening and closing ----------------------------------------------------------------

TEST_F(I2cClientTest, AnOpenCountsOnlyWithSuccessNoErrorAndACookie)
{
    for (auto refusal : {sim::OpenRefusal::ByStatus, sim::OpenRefusal::ByReturn, sim::OpenRefusal::ZeroCookie}) {
        SCOPED_TRACE(int(refusal));
        Bridge().RefuseOpens(1, refusal);
        EXPECT_FALSE(client->OpenBus());
        EXPECT_EQ(client->Cookie, 0u);
    }
    EXPECT_TRUE(client->OpenBus());
    EXPECT_EQ(client->Cookie, Bridge().OwnerCookie());
    EXPECT_NE(client->Cookie, 0u);
    EXPECT_TRUE(client->CloseBus());
    EXPECT_EQ(client->Cookie, 0u);
    EXPECT_FALSE(Bridge().IsOpen());
}

TEST_F(I2cClientTest, ARefusedCloseKeepsTheBusOpenForLaterTransfers)
{
    ASSERT_TRUE(client->OpenBus());
    DWORD cookie = client->Cookie;
    Bridge().RefuseCloses(true);
    EXPECT_FALSE(client->CloseBus());
    EXPECT_EQ(client->Cookie, cookie);

    ClearRecords();
    uint8_t bytes[2] = {0x05, 0x11};
    EXPECT_TRUE(client->WriteBytes(2, bytes));
    EXPECT_EQ(Trace(), Lines{"S C0 W 05 11 P"});
    EXPECT_EQ(Bridge().Counters().OpenCalls, 0u);
    EXPECT_EQ(Bridge().Counters().CloseCalls, 0u);
    Bridge().RefuseCloses(false);
    EXPECT_TRUE(client->CloseBus());
}

TEST_F(I2cClientTest, OpenRetryAttemptsEvery200usForALittleMoreThanFiveSeconds)
{
    struct Case {
        const char* name;
        uint32_t refusals;
        sim::OpenRefusal how;
        bool opens;
        size_t attempts;
    } cases[] = {
        {"first attempt succeeds", 0, sim::OpenRefusal::ByStatus, true, 1},
        {"three refusals", 3, sim::OpenRefusal::ByStatus, true, 4},
        {"a cookie of 0 is a refusal", 2, sim::OpenRefusal::ZeroCookie, true, 3},
        {"refused for good", sim::Always, sim::OpenRefusal::ByStatus, false, 25002},
        {"cookie 0 for good", sim::Always, sim::OpenRefusal::ZeroCookie, false, 25002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearRecords();
        Bridge().RefuseOpens(c.refusals, c.how);
        int64_t before = sim::InterruptTime();
        EXPECT_EQ(client->OpenBusWithRetry(), c.opens);
        std::vector<sim::BridgeCall> attempts = OpenAttempts();
        ASSERT_EQ(attempts.size(), c.attempts);
        for (size_t i = 0; i < attempts.size(); ++i) {
            ASSERT_EQ(attempts[i].Time, before + int64_t(i) * 2000) << "attempt " << i;
        }
        EXPECT_EQ(sim::InterruptTime() - before, int64_t(c.attempts - 1) * 2000);
        if (c.opens) {
            EXPECT_TRUE(client->CloseBus());
        } else {
            EXPECT_GT(sim::InterruptTime() - before, 50000000);
            EXPECT_EQ(client->Cookie, 0u);
        }
    }
}

TEST_F(I2cClientTest, SettingTheSystemTimeBackDoesNotProlongTheOpenRetry)
{
    Bridge().RefuseOpens(sim::Always);
    size_t attempts = 0;
    Bridge().AddCallListener([&](const sim::BridgeCall& call) {
        if (call.Kind != sim::BridgeCall::Open) return;
        sim::SetSystemTime(sim::SystemTime() - 10000000);  // someone keeps setting the clock back
        if (++attempts == 40000) Bridge().ClearFaults();   // a retry that would never end: stop it
    });
    EXPECT_FALSE(client->OpenBusWithRetry());
    EXPECT_EQ(attempts, 25002u);
}

TEST_F(I2cClientTest, AtDispatchLevelTheOpenIsTriedOnceWithoutWaiting)
{
    Bridge().SetMaxIrql(DISPATCH_LEVEL);
    Bridge().RefuseOpens(sim::Always);
    int64_t before = sim::InterruptTime();
    uint8_t bytes[1] = {0x05};
    {
        sim::IrqlScope dispatch(DISPATCH_LEVEL);
        EXPECT_FALSE(client->OpenBusWithRetry());
        EXPECT_FALSE(client->WriteBytes(1, bytes));
    }
    EXPECT_EQ(OpenAttempts().size(), 2u);
    EXPECT_EQ(sim::InterruptTime(), before);
    EXPECT_TRUE(Trace().empty());
}

// ---- PerformTransfer ------------------------------------------------------------------------

TEST_F(I2cClientTest, PerformTransferOpensAndClosesTheBusAroundOneTransfer)
{
    uint8_t bytes[2] = {0x05, 0x11};
    EXPECT_TRUE(client->WriteBytes(2, bytes));
    std::vector<sim::BridgeCall> calls = Bridge().Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_TRUE(calls.front().Kind == sim::BridgeCall::Open && calls.front().ToOpen);
    EXPECT_TRUE(calls.back().Kind == sim::BridgeCall::Open && !calls.back().ToOpen);
    EXPECT_EQ(calls.back().In.dwCookie, calls.front().Out.dwCookie);
    EXPECT_EQ(calls.back().In.ClockRate, 10000u);
    EXPECT_EQ(client->Cookie, 0u);
    EXPECT_FALSE(Bridge().IsOpen());

    // A bus already open (device start) is used as it is.
    ASSERT_TRUE(client->OpenBus());
    ClearRecords();
    EXPECT_TRUE(client->WriteBytes(2, bytes));
    EXPECT_EQ(Bridge().Counters().OpenCalls + Bridge().Counters().CloseCalls, 0u);
    EXPECT_EQ(Bridge().Counters().ByteCommands, 3u);
    EXPECT_TRUE(Bridge().IsOpen());
    EXPECT_TRUE(client->CloseBus());

    // A rejected record still costs an open and a close, and nothing else.
    ClearRecords();
    EXPECT_FALSE(client->WriteBytes(0, bytes));
    EXPECT_EQ(Bridge().Counters().OpenCalls, 1u);
    EXPECT_EQ(Bridge().Counters().CloseCalls, 1u);
    EXPECT_EQ(Bridge().Counters().AccessCalls, 0u);

    // A bus that cannot be opened: nothing is sent and the record keeps its Result.
    ClearRecords();
    Bridge().RefuseOpens(sim::Always);
    I2cTransfer transfer = {};
    transfer.DeviceAddress = ChipAddress;
    transfer.Result = 0x55;
    transfer.WriteCount = 2;
    transfer.WriteBuffer = bytes;
    EXPECT_FALSE(client->PerformTransfer(transfer));
    EXPECT_EQ(transfer.Result, 0x55);
    EXPECT_EQ(Bridge().Counters().AccessCalls, 0u);
    EXPECT_EQ(client->InUse, 0u);
}

TEST_F(I2cClientTest, ASecondTransferIsTurnedAwayWhileOneRunsButNotificationsPass)
{
    uint8_t first[2] = {0x05, 0x11};
    uint8_t second[1] = {0x07};
    bool secondResult = true;
    bool notified = false;
    size_t callsBefore = 0, callsAfter = 0;
    bool done = false;
    Bridge().AddCallListener([&](const sim::BridgeCall& call) {
        if (done || call.Kind != sim::BridgeCall::Access || call.In.Data != 0x05) return;
        done = true;
        EXPECT_EQ(client->InUse, 1u);
        callsBefore = Bridge().Calls().size();
        secondResult = client->WriteBytes(1, second);
        callsAfter = Bridge().Calls().size();
        notified = client->NotifyMode(2);
    });
    EXPECT_TRUE(client->WriteBytes(2, first));
    EXPECT_FALSE(secondResult);
    EXPECT_EQ(callsAfter, callsBefore);
    EXPECT_TRUE(notified);
    ASSERT_EQ(Bridge().Notifications().size(), 1u);
    EXPECT_EQ(Bridge().Notifications()[0].Cookie, Bridge().Calls().front().Out.dwCookie);
    EXPECT_EQ(Trace(), Lines{"S C0 W 05 11 P"});

    EXPECT_EQ(client->InUse, 0u);
    EXPECT_TRUE(client->WriteBytes(1, second));
}

// ---- Register operations -------------------------------------------------------------------

TEST_F(I2cClientTest, RegisterOperationsWriteAndReadAtTheCurrentAddress)
{
    using Bytes = std::vector<uint8_t>;
    struct Case {
        const char* name;
        std::function<bool(I2cClient&)> operation;
        bool result;
        Lines bus;
        Bytes written;  // what the chip took into its registers
        Bytes read;
    };
    const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    const uint8_t sub = 0x05;
    Bytes got(3);
    const Case cases[] = {
        {"WriteBytes", [&](I2cClient& c) { return c.WriteBytes(3, data); }, true,
         {"S C0 W AA BB CC P"}, {0xBB, 0xCC}, {0, 0, 0}},
        {"WriteBytes of nothing", [&](I2cClient& c) { return c.WriteBytes(0, data); }, false,
         {}, {}, {0, 0, 0}},
        {"WriteBlock", [&](I2cClient& c) { return c.WriteBlock(2, &sub, data); }, true,
         {"S C0 W 05 AA BB P"}, {0xAA, 0xBB}, {0, 0, 0}},
        {"WriteBlock of no data", [&](I2cClient& c) { return c.WriteBlock(0, &sub, data); }, true,
         {"S C0 W 05 P"}, {}, {0, 0, 0}},
        {"WriteRegister", [&](I2cClient& c) { return c.WriteRegister(&sub, data); }, true,
         {"S C0 W 05 AA P"}, {0xAA}, {0, 0, 0}},
        {"ReadRegisters", [&](I2cClient& c) { return c.ReadRegisters(3, &sub, got.data()); }, true,
         {"S C0 W 05 P", "S C0 R 37 48 59~ P"}, {}, {0x37, 0x48, 0x59}},
        {"ReadRegisters of one byte", [&](I2cClient& c) { return c.ReadRegisters(1, &sub, got.data()); }, true,
         {"S C0 W 05 P", "S C0 R 37~ P"}, {}, {0x37, 0, 0}},
        {"ReadRegisters of nothing", [&](I2cClient& c) { return c.ReadRegisters(0, &sub, got.data()); }, true,
         {"S C0 W 05 P"}, {}, {0, 0, 0}},
        {"to an address nobody answers", [&](I2cClient& c) { c.SetAddress(0xC4); return c.WriteBytes(1, data); },
         false, {"S C4~ W reset"}, {}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        client->SetAddress(ChipAddress);
        chip.SetRegister(5, 0x37);
        chip.SetRegister(6, 0x48);
        chip.SetRegister(7, 0x59);
        chip.ClearWritten();
        ClearRecords();
        std::fill(got.begin(), got.end(), 0);
        EXPECT_EQ(c.operation(*client), c.result);
        EXPECT_EQ(Trace(), c.bus);
        EXPECT_EQ(chip.Written(), c.written);
        EXPECT_EQ(got, c.read);
        EXPECT_FALSE(Bridge().IsOpen());
    }
}

TEST_F(I2cClientTest, WriteBlockCopiesIntoANonPagedBufferWithTheDriversTag)
{
    const uint8_t sub = 0x10;
    const uint8_t data[4] = {1, 2, 3, 4};
    std::vector<sim::PoolBlock> during;
    Bridge().AddCallListener([&](const sim::BridgeCall&) {
        if (during.empty()) during = sim::OutstandingPool();
    });
    EXPECT_TRUE(client->WriteBlock(4, &sub, data));
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].Size, 5u);
    EXPECT_EQ(during[0].Type, NonPagedPool);
    EXPECT_EQ(during[0].Tag, DriverPoolTag);
    EXPECT_TRUE(sim::OutstandingPool().empty());
    EXPECT_EQ(chip.Register(0x13), 4);

    ClearRecords();
    sim::FailNthAllocation(1);
    EXPECT_FALSE(client->WriteBlock(4, &sub, data));
    EXPECT_TRUE(Bridge().Calls().empty());
}

TEST_F(I2cClientTest, ReadsTheBoardEepromOneByteAtATime)
{
    sim::Eeprom eeprom;
    std::vector<uint8_t> image(256);
    image[0x59] = 0x2B;
    eeprom.Load(image);
    bench->Bus.Attach(0xA0, &eeprom);
    client->SetAddress(0xA0);

    uint8_t offset = 0x59;
    uint8_t value = 0;
    EXPECT_TRUE(client->ReadRegisters(1, &offset, &value));
    EXPECT_EQ(value, 0x2B);

    eeprom.SetAnswering(false);
    value = 0;
    EXPECT_FALSE(client->ReadRegisters(1, &offset, &value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Bridge().Counters().Resets, 1u);
    bench->Bus.Detach(0xA0);
}

// ---- Notifications ------------------------------------------------------------------------------

TEST_F(I2cClientTest, NotificationsCarryTheirValuesWithTheCookieAsItIs)
{
    struct Case {
        const char* name;
        bool (I2cClient::*notify)(uint32_t);
        uint32_t argument;
        ULONG kind;
        uint32_t value;
    } cases[] = {
        {"standard", &I2cClient::NotifyStandard, 0x00080010, I2C_NOTIFY_STANDARD, 0x00080010},
        {"country", &I2cClient::NotifyCountry, 0x12345678, I2C_NOTIFY_COUNTRY, 0x12345678},
        {"mode", &I2cClient::NotifyMode, 0x102, I2C_NOTIFY_MODE, 0x02},
    };
    for (bool open : {false, true}) {
        if (open) {
            ASSERT_TRUE(client->OpenBus());
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (open ? ", bus open" : ", bus closed"));
            ClearRecords();
            DirtyStack();
            EXPECT_TRUE((client->*c.notify)(c.argument));
            std::vector<sim::BridgeNotification> heard = Bridge().Notifications();
            ASSERT_EQ(heard.size(), 1u);
            EXPECT_EQ(heard[0].Kind, c.kind);
            EXPECT_EQ(heard[0].Value, c.value);
            EXPECT_EQ(heard[0].Cookie, client->Cookie);
            if (c.kind == I2C_NOTIFY_MODE) {
                EXPECT_TRUE(AllZero(heard[0].Reserved));
            }
            EXPECT_EQ(AccessCalls().at(0).In.ClockRate, 10000u);
            EXPECT_EQ(Bridge().Counters().OpenCalls + Bridge().Counters().CloseCalls, 0u);
        }
    }
    EXPECT_TRUE(client->CloseBus());

    Bridge().RefuseNotifications(true);
    EXPECT_FALSE(client->NotifyMode(1));
    EXPECT_FALSE(client->NotifyCountry(1));
}

// ---- Control blocks --------------------------------------------------------------------------

TEST_F(I2cClientTest, EveryControlBlockReachesTheBridgeWithoutStackGarbage)
{
    DirtyStack();
    ASSERT_TRUE(client->OpenBus());
    DirtyStack();
    uint8_t bytes[2] = {0x05, 0x11};
    EXPECT_TRUE(client->WriteBytes(2, bytes));  // the bridge fails the test on non-zero Reserved bytes
    DirtyStack();
    ASSERT_TRUE(client->CloseBus());

    std::vector<sim::BridgeCall> calls = Bridge().Calls();
    const I2CControl& open = calls.front().In;
    EXPECT_EQ(open.Command, 0u);
    EXPECT_EQ(open.dwCookie, 0u);
    EXPECT_EQ(open.Data, 0);
    EXPECT_TRUE(AllZero(open.Reserved));
    EXPECT_EQ(open.Flags, 0u);
    EXPECT_EQ(open.Status, 0u);
    EXPECT_EQ(open.ClockRate, 0u);
    const I2CControl& close = calls.back().In;
    EXPECT_EQ(close.Command, 0u);
    EXPECT_EQ(close.Data, 0);
    EXPECT_TRUE(AllZero(close.Reserved));
    EXPECT_EQ(close.Flags, 0u);
    for (const sim::BridgeCall& call : calls) EXPECT_TRUE(AllZero(call.In.Reserved));
}

}  // namespace
