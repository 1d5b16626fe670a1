// The simulated capture bridge on its own: its interface query, bus ownership,
// and the checks a careful bridge makes on every call.
#include <gtest/gtest.h>

#include <memory>

#include "i2c/BridgeInterface.h"
#include "platform/Kernel.h"
#include "sim/bus/CaptureBridge.h"
#include "sim/bus/RegisterFile.h"
#include "sim/bus/TraceText.h"
#include "tests/support/KernelTest.h"

namespace {

using Lines = std::vector<std::string>;

NTSTATUS NTAPI KeepIrp(DEVICE_OBJECT*, IRP*, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends IRP_MN_QUERY_INTERFACE as a driver above the bridge would; returns the
// IRP's final status.
NTSTATUS QueryInterface(DEVICE_OBJECT* device, const GUID& type, USHORT size, USHORT version, I2CINTERFACE* record)
{
    IRP* irp = IoAllocateIrp(device->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &type;
    next->Parameters.QueryInterface.Size = size;
    next->Parameters.QueryInterface.Version = version;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<INTERFACE*>(record);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    IoSetCompletionRoutine(irp, KeepIrp, nullptr, true, true, true);
    EXPECT_NE(IofCallDriver(device, irp), STATUS_PENDING);
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

class CaptureBridgeTest : public KernelTest {
protected:
    // The simulated kernel starts afresh in SetUp, so the device comes after it.
    void SetUp() override
    {
        KernelTest::SetUp();
        bridge = std::make_unique<sim::CaptureBridge>(bus);
    }

    void TearDown() override
    {
        bridge.reset();
        KernelTest::TearDown();
    }

    I2CControl Call(ULONG command, BYTE data, ULONG flags, DWORD cookie, NTSTATUS expectReturned = STATUS_SUCCESS)
    {
        I2CControl control = {};
        control.Command = command;
        control.Data = data;
        control.Flags = flags;
        control.dwCookie = cookie;
        control.ClockRate = 10000;
        EXPECT_EQ(sim::CaptureBridge::I2cAccess(bridge->Device(), &control), expectReturned);
        return control;
    }

    DWORD Open()
    {
        I2CControl control = {};
        EXPECT_EQ(sim::CaptureBridge::I2cOpen(bridge->Device(), TRUE, &control), STATUS_SUCCESS);
        EXPECT_EQ(control.Status, I2C_STATUS_NOERROR);
        return control.dwCookie;
    }

    I2CControl Close(DWORD cookie)
    {
        I2CControl control = {};
        control.dwCookie = cookie;
        control.ClockRate = 10000;
        EXPECT_EQ(sim::CaptureBridge::I2cOpen(bridge->Device(), FALSE, &control), STATUS_SUCCESS);
        return control;
    }

    sim::I2cBus bus;
    std::unique_ptr<sim::CaptureBridge> bridge;
};

TEST_F(CaptureBridgeTest, AnswersTheInterfaceQueryAsConfigured)
{
    const GUID other = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    struct Case {
        const char* name;
        sim::InterfaceOffer offer;
        const GUID* type;
        USHORT size;
        USHORT version;
        NTSTATUS status;
        bool open;
        bool access;
    } cases[] = {
        {"offered", sim::InterfaceOffer::Offered, &GUID_I2C_INTERFACE, 24, 1, STATUS_SUCCESS, true, true},
        {"larger buffer", sim::InterfaceOffer::Offered, &GUID_I2C_INTERFACE, 32, 1, STATUS_SUCCESS, true, true},
        {"not offered", sim::InterfaceOffer::NotOffered, &GUID_I2C_INTERFACE, 24, 1, STATUS_NOT_SUPPORTED, false, false},
        {"no open routine", sim::InterfaceOffer::NoOpenRoutine, &GUID_I2C_INTERFACE, 24, 1, STATUS_SUCCESS, false, true},
        {"no access routine", sim::InterfaceOffer::NoAccessRoutine, &GUID_I2C_INTERFACE, 24, 1, STATUS_SUCCESS, true, false},
        {"buffer too small", sim::InterfaceOffer::Offered, &GUID_I2C_INTERFACE, 16, 1, STATUS_NOT_SUPPORTED, false, false},
        {"other version", sim::InterfaceOffer::Offered, &GUID_I2C_INTERFACE, 24, 2, STATUS_NOT_SUPPORTED, false, false},
        {"other interface", sim::InterfaceOffer::Offered, &other, 24, 1, STATUS_NOT_SUPPORTED, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::I2cBus caseBus;
        sim::CaptureBridge caseBridge(caseBus);
        caseBridge.SetInterfaceOffer(c.offer);
        I2CINTERFACE record = {};
        EXPECT_EQ(QueryInterface(caseBridge.Device(), *c.type, c.size, c.version, &record), c.status);
        bool filled = c.status == STATUS_SUCCESS;
        EXPECT_EQ(record.i2cOpen != nullptr, c.open);
        EXPECT_EQ(record.i2cAccess != nullptr, c.access);
        EXPECT_EQ(record.Size, filled ? 24 : 0);
        EXPECT_EQ(record.Version, filled ? 1 : 0);
        EXPECT_EQ(record.InterfaceDereference != nullptr, filled);
        EXPECT_EQ(caseBridge.InterfaceReferences(), filled ? 1 : 0);
    }
}

TEST_F(CaptureBridgeTest, CountsReferencesAndCatchesOneReleaseTooMany)
{
    I2CINTERFACE record = {};
    ASSERT_EQ(QueryInterface(bridge->Device(), GUID_I2C_INTERFACE, 24, 1, &record), STATUS_SUCCESS);
    record.InterfaceReference(record.Context);
    EXPECT_EQ(bridge->InterfaceReferences(), 2);
    record.InterfaceDereference(record.Context);
    record.InterfaceDereference(record.Context);
    EXPECT_EQ(bridge->InterfaceReferences(), 0);

    sim::ViolationCapture violations;
    record.InterfaceDereference(record.Context);
    EXPECT_TRUE(violations.Contains("InterfaceDereference"));
}

TEST_F(CaptureBridgeTest, LendsTheBusToOneOwnerAtATime)
{
    DWORD first = Open();
    ASSERT_NE(first, 0u);

    I2CControl second = {};
    EXPECT_EQ(sim::CaptureBridge::I2cOpen(bridge->Device(), TRUE, &second), STATUS_SUCCESS);
    EXPECT_EQ(second.Status, I2C_STATUS_ERROR);
    EXPECT_EQ(second.dwCookie, 0u);
    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0xC0, I2C_FLAGS_START, first + 1).Status, I2C_STATUS_ERROR);
    EXPECT_EQ(Close(first + 1).Status, I2C_STATUS_ERROR);
    EXPECT_TRUE(bridge->IsOpen());

    EXPECT_EQ(Close(first).Status, I2C_STATUS_NOERROR);
    EXPECT_FALSE(bridge->IsOpen());
    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0xC0, I2C_FLAGS_START, first).Status, I2C_STATUS_ERROR);
    DWORD again = Open();
    EXPECT_NE(again, 0u);
    EXPECT_NE(again, first);
    EXPECT_TRUE(bus.Trace().empty());
    EXPECT_EQ(bridge->Counters().Refused, 4u);
}

TEST_F(CaptureBridgeTest, RefusesCallsItCannotCarryOut)
{
    DWORD cookie = Open();
    struct Case {
        const char* name;
        ULONG command;
        ULONG flags;
        DWORD cookie;
        ULONG clockRate;
    } cases[] = {
        {"no clock rate", I2C_COMMAND_WRITE, I2C_FLAGS_START, cookie, 0},
        {"clock rate beyond fast mode", I2C_COMMAND_WRITE, I2C_FLAGS_START, cookie, 1000000},
        {"unknown command", 0x20, 0, cookie, 10000},
        {"data chaining", I2C_COMMAND_WRITE, I2C_FLAGS_START | I2C_FLAGS_DATACHAINING, cookie, 10000},
        {"read with START", I2C_COMMAND_READ, I2C_FLAGS_START, cookie, 10000},
        {"notification of no kind", I2C_COMMAND_NOTIFY, 0, 0, 10000},
        {"notification of two kinds", I2C_COMMAND_NOTIFY, I2C_NOTIFY_MODE | I2C_NOTIFY_COUNTRY, 0, 10000},
        {"notification with a foreign cookie", I2C_COMMAND_NOTIFY, I2C_NOTIFY_MODE, cookie + 1, 10000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        I2CControl control = {};
        control.Command = c.command;
        control.Data = 0xC0;
        control.Flags = c.flags;
        control.dwCookie = c.cookie;
        control.ClockRate = c.clockRate;
        EXPECT_EQ(sim::CaptureBridge::I2cAccess(bridge->Device(), &control), STATUS_SUCCESS);
        EXPECT_EQ(control.Status, I2C_STATUS_ERROR);
    }
    EXPECT_TRUE(bus.Trace().empty());
    EXPECT_TRUE(bridge->Notifications().empty());
}

TEST_F(CaptureBridgeTest, CarriesOutOneCommandPerCall)
{
    sim::RegisterFile chip;
    chip.SetRegister(0x10, 0x5A);
    bus.Attach(0xC0, &chip);
    DWORD cookie = Open();

    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0xC0, I2C_FLAGS_START | I2C_FLAGS_ACK, cookie).Status, I2C_STATUS_NOERROR);
    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0x10, I2C_FLAGS_ACK, cookie).Status, I2C_STATUS_NOERROR);
    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0xC1, I2C_FLAGS_START | I2C_FLAGS_ACK, cookie).Status, I2C_STATUS_NOERROR);
    I2CControl read = Call(I2C_COMMAND_READ, 0, I2C_FLAGS_STOP, cookie);
    EXPECT_EQ(read.Status, I2C_STATUS_NOERROR);
    EXPECT_EQ(read.Data, 0x5A);
    I2CControl status = Call(I2C_COMMAND_STATUS, 0, 0, cookie);
    EXPECT_EQ(status.Status, I2C_STATUS_NOERROR);  // the last command's outcome
    EXPECT_EQ(status.Data, 0x5A);

    // A NACK is an error and holds the bus until the master resets it.
    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0xC2, I2C_FLAGS_START | I2C_FLAGS_STOP, cookie).Status, I2C_STATUS_ERROR);
    EXPECT_EQ(Call(I2C_COMMAND_STATUS, 0, 0, cookie).Status, I2C_STATUS_ERROR);
    EXPECT_EQ(Call(I2C_COMMAND_RESET, 0, 0, cookie).Status, I2C_STATUS_NOERROR);
    EXPECT_EQ(sim::Describe(bus.Trace()), (Lines{"S C0 W 10", "Sr C0 R 5A~ P", "S C2~ W reset"}));
    EXPECT_EQ(bridge->Counters().ByteCommands, 5u);
    EXPECT_EQ(bridge->Counters().StatusPolls, 2u);
    EXPECT_EQ(bridge->Counters().Resets, 1u);
}

TEST_F(CaptureBridgeTest, ABusyByteTakesEffectAtThePollThatEndsIt)
{
    sim::RegisterFile chip;
    bus.Attach(0xC0, &chip);
    DWORD cookie = Open();
    bridge->BusyAtByte(2, 3);

    Call(I2C_COMMAND_WRITE, 0xC0, I2C_FLAGS_START | I2C_FLAGS_ACK, cookie);
    EXPECT_EQ(Call(I2C_COMMAND_WRITE, 0x07, I2C_FLAGS_ACK | I2C_FLAGS_STOP, cookie).Status, I2C_STATUS_BUSY);
    EXPECT_EQ(Call(I2C_COMMAND_STATUS, 0, 0, cookie).Status, I2C_STATUS_BUSY);
    EXPECT_EQ(Call(I2C_COMMAND_STATUS, 0, 0, cookie).Status, I2C_STATUS_BUSY);
    EXPECT_EQ(sim::Describe(bus.Trace()), Lines{"S C0 W"});
    EXPECT_EQ(Call(I2C_COMMAND_STATUS, 0, 0, cookie).Status, I2C_STATUS_NOERROR);
    EXPECT_EQ(sim::Describe(bus.Trace()), Lines{"S C0 W 07 P"});
    EXPECT_EQ(chip.Subaddress(), 0x07);
}

TEST_F(CaptureBridgeTest, ReportsCallsNoCarefulDriverMakes)
{
    DWORD cookie = Open();
    {
        sim::ViolationCapture violations;
        I2CControl control = {};
        control.Command = I2C_COMMAND_WRITE;
        control.Data = 0xC0;
        control.Flags = I2C_FLAGS_START;
        control.dwCookie = cookie;
        control.ClockRate = 10000;
        control.Reserved[1] = 0xCC;
        sim::CaptureBridge::I2cAccess(bridge->Device(), &control);
        EXPECT_TRUE(violations.Contains("Reserved"));
    }
    {
        sim::ViolationCapture violations;
        bridge->BusyAtByte(1, sim::Always);
        Call(I2C_COMMAND_WRITE, 0xC0, I2C_FLAGS_START, cookie);
        Call(I2C_COMMAND_WRITE, 0x01, 0, cookie);
        EXPECT_TRUE(violations.Contains("still running"));
        Call(I2C_COMMAND_RESET, 0, 0, cookie);
    }
    {
        sim::ViolationCapture violations;
        sim::IrqlScope raised(DISPATCH_LEVEL);
        Call(I2C_COMMAND_NOTIFY, 2, I2C_NOTIFY_MODE, 0);
        EXPECT_TRUE(violations.Contains("i2cAccess of the capture bridge called at IRQL 2"));
        bridge->SetMaxIrql(DISPATCH_LEVEL);
        Call(I2C_COMMAND_NOTIFY, 2, I2C_NOTIFY_MODE, 0);
        EXPECT_EQ(violations.Messages().size(), 1u);
    }
}

}  // namespace
