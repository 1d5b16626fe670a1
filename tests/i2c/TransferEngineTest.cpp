// The byte-level engine: what each shape of transfer puts on the bus, the
// validation codes, failures at any byte and the poll of a busy bridge.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/i2c/ClientFixture.h"

namespace {

using TransferEngineTest = ClientTest;

struct Shape {
    const char* name;
    uint8_t address;
    uint16_t flags;
    std::vector<uint8_t> write;
    uint16_t readCount;
    uint8_t andMask;
    uint8_t orMask;
    Lines bus;
    std::vector<uint8_t> read;
    std::vector<std::pair<uint8_t, uint8_t>> registers;  // chip state afterwards
    uint8_t subaddress;                                  // the chip's pointer afterwards
    int lastWriteByte;                                   // the record's last write byte afterwards; -1: not checked
};

TEST_F(TransferEngineTest, EveryShapeOfTransferPutsItsSequenceOnTheBus)
{
    const uint16_t RMW = ReadModifyWrite;
    const uint16_t NoStop = NoStopAfterWrite;
    const Shape shapes[] = {
        {"write", 0xC0, 0, {0x05, 0x11, 0x22}, 0, 0, 0,
         {"S C0 W 05 11 22 P"}, {}, {{0x05, 0x11}, {0x06, 0x22}}, 0x07, -1},
        {"write with bit 0 set in the address", 0xC1, 0, {0x05, 0x11}, 0, 0, 0,
         {"S C0 W 05 11 P"}, {}, {{0x05, 0x11}}, 0x06, -1},
        {"read", 0xC0, 0, {}, 2, 0, 0,
         {"S C0 R A0 A1~ P"}, {0xA0, 0xA1}, {}, 0x02, -1},
        {"read one byte", 0xC0, 0, {}, 1, 0, 0,
         {"S C0 R A0~ P"}, {0xA0}, {}, 0x01, -1},
        {"write then read", 0xC0, 0, {0x05}, 2, 0, 0,
         {"S C0 W 05 P", "S C0 R 37 48~ P"}, {0x37, 0x48}, {}, 0x07, -1},
        {"no STOP after the write, then read", 0xC0, NoStop, {0x05}, 1, 0, 0,
         {"S C0 W 05", "Sr C0 R 37~ P"}, {0x37}, {}, 0x06, -1},
        {"no STOP after the write, no read", 0xC0, NoStop, {0x05, 0x11}, 0, 0, 0,
         {"S C0 W 05 11"}, {}, {{0x05, 0x11}}, 0x06, -1},
        {"read-modify-write", 0xC0, RMW, {0x05, 0x99}, 1, 0xF0, 0x05,
         {"S C0 W 05 P", "S C0 R 37~ P", "S C0 W 05 35 P"}, {0x37}, {{0x05, 0x35}}, 0x06, 0x35},
        {"read-modify-write of the last of several bytes read", 0xC0, RMW, {0x05, 0x99}, 2, 0x0F, 0x80,
         {"S C0 W 05 P", "S C0 R 37 48~ P", "S C0 W 05 88 P"}, {0x37, 0x48}, {{0x05, 0x88}}, 0x06, 0x88},
        {"read-modify-write ends with STOP despite NoStopAfterWrite", 0xC0, RMW | NoStop, {0x05, 0x99}, 1, 0xF0, 0x05,
         {"S C0 W 05", "Sr C0 R 37~ P", "S C0 W 05 35 P"}, {0x37}, {{0x05, 0x35}}, 0x06, 0x35},
        {"read-modify-write of a single write byte", 0xC0, RMW, {0x99}, 1, 0x0F, 0x80,
         {"S C0 R A0~ P", "S C0 W 80 P"}, {0xA0}, {}, 0x80, 0x80},
        {"read-modify-write without a read", 0xC0, RMW, {0x05, 0x99}, 0, 0, 0,
         {"S C0 W 05 P"}, {}, {{0x05, 0x37}}, 0x05, 0x99},
    };

    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        sim::RegisterFile fresh;
        for (uint8_t i = 0; i < 8; ++i) fresh.SetRegister(i, uint8_t(0xA0 + i));
        fresh.SetRegister(0x05, 0x37);
        fresh.SetRegister(0x06, 0x48);
        bench->Bus.Detach(ChipAddress);
        bench->Bus.Attach(ChipAddress, &fresh);
        ClearRecords();

        std::vector<uint8_t> write = shape.write;
        std::vector<uint8_t> read(shape.readCount, 0xEE);
        I2cTransfer transfer = {};
        transfer.DeviceAddress = shape.address;
        transfer.Result = 0x55;
        transfer.TransferFlags = shape.flags;
        transfer.WriteCount = uint16_t(write.size());
        transfer.WriteBuffer = write.empty() ? nullptr : write.data();
        transfer.ReadCount = shape.readCount;
        transfer.ReadBuffer = read.empty() ? nullptr : read.data();
        transfer.AndMask = shape.andMask;
        transfer.OrMask = shape.orMask;

        EXPECT_TRUE(client->PerformTransfer(transfer));
        EXPECT_EQ(transfer.Result, TransferDone);
        EXPECT_EQ(Trace(), shape.bus);
        EXPECT_EQ(read, shape.read);
        for (auto [index, value] : shape.registers) {
            EXPECT_EQ(fresh.Register(index), value) << "register " << int(index);
        }
        EXPECT_EQ(fresh.Subaddress(), shape.subaddress);
        if (shape.lastWriteByte >= 0) {
            EXPECT_EQ(write.back(), shape.lastWriteByte);
        }
        bench->Bus.Reset();  // a transfer left without STOP holds the bus
        bench->Bus.Detach(ChipAddress);
    }
    bench->Bus.Attach(ChipAddress, &chip);
}

TEST_F(TransferEngineTest, EachByteIsOneBridgeCallWithItsPhasesCommandAndFlags)
{
    chip.SetRegister(0x02, 0x61);
    uint8_t write[2] = {0x01, 0x02};
    uint8_t read[3] = {};
    I2cTransfer transfer = {};
    transfer.DeviceAddress = 0x86 | 1;
    bench->Bus.Detach(ChipAddress);
    bench->Bus.Attach(0x86, &chip);
    transfer.WriteCount = 2;
    transfer.WriteBuffer = write;
    transfer.ReadCount = 3;
    transfer.ReadBuffer = read;
    ASSERT_TRUE(client->PerformTransfer(transfer));

    struct Byte {
        ULONG command;
        BYTE data;
        ULONG flags;
    };
    const Byte expected[] = {
        {I2C_COMMAND_WRITE, 0x86, 0x11}, {I2C_COMMAND_WRITE, 0x01, 0x10}, {I2C_COMMAND_WRITE, 0x02, 0x12},
        {I2C_COMMAND_WRITE, 0x87, 0x11}, {I2C_COMMAND_READ, 0, 0x10},     {I2C_COMMAND_READ, 0, 0x10},
        {I2C_COMMAND_READ, 0, 0x02},
    };
    std::vector<sim::BridgeCall> calls = AccessCalls();
    ASSERT_EQ(calls.size(), std::size(expected));
    DWORD cookie = OpenAttempts().at(0).Out.dwCookie;
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].In.Command, expected[i].command);
        if (expected[i].command == I2C_COMMAND_WRITE) {
            EXPECT_EQ(calls[i].In.Data, expected[i].data);
        }
        EXPECT_EQ(calls[i].In.Flags, expected[i].flags);
        EXPECT_EQ(calls[i].In.dwCookie, cookie);
        EXPECT_EQ(calls[i].In.ClockRate, 10000u);
    }
    EXPECT_EQ(Trace(), (Lines{"S 86 W 01 02 P", "S 86 R 61 00 00~ P"}));
    EXPECT_EQ(read[0], 0x61);
}

TEST_F(TransferEngineTest, RejectsARecordWithoutSendingAByte)
{
    uint8_t buffer[2] = {0x05, 0x06};
    struct Case {
        const char* name;
        uint32_t code;
        uint16_t writeCount;
        bool writeBuffer;
        uint16_t readCount;
        bool readBuffer;
        uint16_t flags;
        void (*breakClient)(I2cClient&);
    } cases[] = {
        {"no open routine", 1, 1, true, 0, false, 0, [](I2cClient& c) { c.BridgeInterface.i2cOpen = nullptr; }},
        {"no access routine", 1, 1, true, 0, false, 0, [](I2cClient& c) { c.BridgeInterface.i2cAccess = nullptr; }},
        {"no device", 1, 1, true, 0, false, 0, [](I2cClient& c) { c.BridgeDevice = nullptr; }},
        {"nothing to do", 2, 0, true, 0, true, 0, nullptr},
        {"nothing to do comes before read-modify-write", 2, 0, false, 0, false, ReadModifyWrite, nullptr},
        {"write without buffer", 3, 1, false, 0, false, 0, nullptr},
        {"read without buffer", 3, 1, true, 1, false, 0, nullptr},
        {"missing buffer comes before read-modify-write", 3, 0, false, 1, false, ReadModifyWrite, nullptr},
        {"read-modify-write without write bytes", 4, 0, false, 1, true, ReadModifyWrite, nullptr},
        {"valid", 0, 1, true, 1, true, ReadModifyWrite, nullptr},
    };
    ASSERT_TRUE(client->OpenBus());
    I2cClient intact = *client;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        *client = intact;
        if (c.breakClient) c.breakClient(*client);
        ClearRecords();
        I2cTransfer transfer = {};
        transfer.DeviceAddress = ChipAddress;
        transfer.Result = 0x55;
        transfer.WriteCount = c.writeCount;
        transfer.WriteBuffer = c.writeBuffer ? buffer : nullptr;
        transfer.ReadCount = c.readCount;
        transfer.ReadBuffer = c.readBuffer ? buffer : nullptr;
        transfer.TransferFlags = c.flags;
        EXPECT_EQ(client->ValidateTransfer(transfer), c.code);
        if (c.code == 0) continue;
        EXPECT_FALSE(client->ExecuteTransfer(transfer));
        EXPECT_EQ(transfer.Result, 0x55);
        EXPECT_TRUE(Bridge().Calls().empty());
    }
    *client = intact;
    EXPECT_TRUE(client->CloseBus());
}

TEST_F(TransferEngineTest, AFailureAtAnyByteEndsTheTransferWithOneReset)
{
    enum class Fault { RoutineFails, StatusError };
    // Six bytes: address, two data bytes, read address, two bytes read.
    for (Fault fault : {Fault::RoutineFails, Fault::StatusError}) {
        for (uint32_t failing = 1; failing <= 6; ++failing) {
            SCOPED_TRACE(testing::Message() << (fault == Fault::RoutineFails ? "routine fails" : "I2C_STATUS_ERROR")
                                            << " at byte " << failing);
            chip.SetRegister(0x05, 0x37);
            ClearRecords();
            if (fault == Fault::RoutineFails) {
                Bridge().FailAccessAtByte(failing);
            } else {
                Bridge().ErrorAtByte(failing);
            }
            uint8_t write[2] = {0x04, 0x11};
            uint8_t read[2] = {0xEE, 0xEE};
            I2cTransfer transfer = {};
            transfer.DeviceAddress = ChipAddress;
            transfer.WriteCount = 2;
            transfer.WriteBuffer = write;
            transfer.ReadCount = 2;
            transfer.ReadBuffer = read;
            transfer.TransferFlags = NoStopAfterWrite;
            EXPECT_TRUE(client->PerformTransfer(transfer));
            EXPECT_EQ(transfer.Result, TransferFailed);

            std::vector<sim::BridgeCall> calls = AccessCalls();
            ASSERT_EQ(calls.size(), failing + 1);  // nothing after the failed byte but the reset
            const sim::BridgeCall& reset = calls.back();
            const sim::BridgeCall& failed = calls[failing - 1];
            EXPECT_EQ(reset.In.Command, I2C_COMMAND_RESET);
            EXPECT_EQ(reset.In.Data, failed.In.Data);
            EXPECT_EQ(reset.In.Flags, failed.In.Flags);
            EXPECT_EQ(Bridge().Counters().Resets, 1u);
            EXPECT_EQ(read[0], failing > 5 ? 0x37 : 0xEE);  // bytes already read stay
            EXPECT_EQ(read[1], 0xEE);
            EXPECT_TRUE(bench->Bus.Idle());
            EXPECT_FALSE(Bridge().IsOpen());
        }
    }
}

TEST_F(TransferEngineTest, AnAddressNobodyAcknowledgesFailsTheTransfer)
{
    uint8_t write[2] = {0x05, 0x11};
    I2cTransfer transfer = {};
    transfer.DeviceAddress = 0xC2;
    transfer.WriteCount = 2;
    transfer.WriteBuffer = write;
    EXPECT_TRUE(client->PerformTransfer(transfer));
    EXPECT_EQ(transfer.Result, TransferFailed);
    EXPECT_EQ(Trace(), Lines{"S C2~ W reset"});
    EXPECT_EQ(Bridge().Counters().ByteCommands, 1u);
    EXPECT_EQ(Bridge().Counters().Resets, 1u);
}

TEST_F(TransferEngineTest, BusyBytesArePolledEvery200usAndTheNextByteKeepsItsCommand)
{
    chip.SetRegister(0x05, 0x37);
    Bridge().BusyOnEveryByte(2);
    uint8_t sub = 0x05;
    uint8_t value = 0;
    int64_t before = sim::InterruptTime();
    EXPECT_TRUE(client->ReadRegisters(1, &sub, &value));
    EXPECT_EQ(value, 0x37);
    EXPECT_EQ(Trace(), (Lines{"S C0 W 05 P", "S C0 R 37~ P"}));
    // Four bytes, each answered busy twice: two waits of 200 us each.
    EXPECT_EQ(sim::InterruptTime() - before, 4 * 2 * 2000);

    std::vector<ULONG> commands;
    for (const sim::BridgeCall& call : AccessCalls()) commands.push_back(call.In.Command);
    const ULONG W = I2C_COMMAND_WRITE, R = I2C_COMMAND_READ, S = I2C_COMMAND_STATUS;
    EXPECT_EQ(commands, (std::vector<ULONG>{W, S, S, W, S, S, W, S, S, R, S, S}));
}

TEST_F(TransferEngineTest, ABusyPollGivesUpAfterOneSecond)
{
    struct Case {
        uint32_t busyAnswers;
        bool succeeds;
    } cases[] = {{5001, true}, {5002, false}, {sim::Always, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.busyAnswers);
        ClearRecords();
        Bridge().BusyAtByte(2, c.busyAnswers);
        uint8_t bytes[2] = {0x05, 0x11};
        I2cTransfer transfer = {};
        transfer.DeviceAddress = ChipAddress;
        transfer.WriteCount = 2;
        transfer.WriteBuffer = bytes;
        int64_t before = sim::InterruptTime();
        EXPECT_TRUE(client->PerformTransfer(transfer));
        int64_t waited = sim::InterruptTime() - before;
        EXPECT_EQ(transfer.Result, c.succeeds ? TransferDone : TransferFailed);
        EXPECT_GE(waited, 10000000);
        EXPECT_LE(waited, 10000000 + 2000);
        EXPECT_EQ(Bridge().Counters().ByteCommands, c.succeeds ? 3u : 2u);
        EXPECT_EQ(Bridge().Counters().Resets, c.succeeds ? 0u : 1u);
    }
}

TEST_F(TransferEngineTest, AtDispatchLevelABusyByteIsRepolledAFewTimesWithoutWaiting)
{
    Bridge().SetMaxIrql(DISPATCH_LEVEL);  // a bridge that allows it, so the engine alone is judged
    struct Case {
        uint32_t busyAnswers;
        bool succeeds;
    } cases[] = {{1, true}, {8, true}, {9, false}, {sim::Always, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.busyAnswers);
        ClearRecords();
        Bridge().BusyAtByte(1, c.busyAnswers);
        uint8_t bytes[1] = {0x05};
        int64_t before = sim::InterruptTime();
        {
            sim::IrqlScope dispatch(DISPATCH_LEVEL);
            EXPECT_EQ(client->WriteBytes(1, bytes), c.succeeds);
        }
        EXPECT_EQ(sim::InterruptTime(), before);
        EXPECT_EQ(Bridge().Counters().StatusPolls, std::min(c.busyAnswers, 8u));
        EXPECT_EQ(Bridge().Counters().Resets, c.succeeds ? 0u : 1u);
    }
}

}  // namespace
