// Pool bookkeeping and fault injection.
#include <cstdint>

#include "tests/support/KernelTest.h"

constexpr ULONG kTestTag = 0x74736554u;  // "Test"

class KernelPoolTest : public KernelTest {};

TEST_F(KernelPoolTest, BlocksAreTrackedAlignedAndNotZeroFilled)
{
    auto* first = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPool, 13, 0x206D6457u));
    void* second = ExAllocatePoolWithTag(PagedPool, 40, kTestTag);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 8, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(second) % 8, 0u);
    bool anyZero = false;
    for (int i = 0; i < 13; ++i) anyZero = anyZero || first[i] == 0;
    EXPECT_FALSE(anyZero);

    std::vector<sim::PoolBlock> blocks = sim::OutstandingPool();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].Address, first);
    EXPECT_EQ(blocks[0].Size, 13u);
    EXPECT_EQ(blocks[0].Type, NonPagedPool);
    EXPECT_EQ(blocks[0].Tag, 0x206D6457u);
    EXPECT_EQ(blocks[1].Type, PagedPool);

    ExFreePool(first);
    ExFreePool(second);
    EXPECT_TRUE(sim::OutstandingPool().empty());
    EXPECT_EQ(sim::PoolAllocationCount(), 2u);
    EXPECT_EQ(sim::PoolFreeCount(), 2u);
}

TEST_F(KernelPoolTest, InjectedFaultsFailTheChosenAllocations)
{
    constexpr ULONG kDriverTag = 0x206D6457u;
    constexpr ULONG kOtherTag = 0x7274684Fu;
    auto attempt = [](ULONG tag) {
        void* block = ExAllocatePoolWithTag(NonPagedPool, 8, tag);
        if (block != nullptr) ExFreePool(block);
        return block != nullptr;
    };

    sim::FailNthAllocation(3);
    EXPECT_TRUE(attempt(kDriverTag));
    EXPECT_TRUE(attempt(kOtherTag));
    EXPECT_FALSE(attempt(kDriverTag));
    EXPECT_TRUE(attempt(kDriverTag));  // only the third

    sim::FailAllocationsWithTag(kDriverTag);
    EXPECT_FALSE(attempt(kDriverTag));
    EXPECT_FALSE(attempt(kDriverTag));
    EXPECT_TRUE(attempt(kOtherTag));

    sim::ClearPoolFaults();
    EXPECT_TRUE(attempt(kDriverTag));
    EXPECT_EQ(sim::PoolAllocationCount(), 5u);  // failed attempts do not count
}

TEST_F(KernelPoolTest, IrpAndWorkItemFaultsAreCountedApart)
{
    DEVICE_OBJECT* device = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });
    sim::FailNthAllocation(1);
    sim::FailNthIrpAllocation(2);
    sim::FailNthWorkItemAllocation(1);
    IRP* irp = IoAllocateIrp(1, FALSE);
    EXPECT_NE(irp, nullptr);
    EXPECT_EQ(IoAllocateIrp(1, FALSE), nullptr);
    EXPECT_EQ(IoAllocateWorkItem(device), nullptr);
    IO_WORKITEM* item = IoAllocateWorkItem(device);
    EXPECT_NE(item, nullptr);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kTestTag), nullptr);  // its own countdown was untouched
    IoFreeIrp(irp);
    IoFreeWorkItem(item);
    sim::DeleteDevice(device);
}
