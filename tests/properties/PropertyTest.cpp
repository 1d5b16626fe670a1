#include "tests/properties/PropertyTest.h"

#include "platform/Kernel.h"
#include "platform/Status.h"
#include "tuner/Memory.h"

void PropertyTest::TearDown()
{
    if (bench_) {
        TunerDevice& tuner = Tuner();
        if (ownMediums_ != nullptr) {
            ExFreePool(ownMediums_);
            ExFreePool(ownDirections_);
            tuner.Mediums = originalMediums_;
            tuner.PinDirections = originalDirections_;
            tuner.PinCount = originalPinCount_;
        }
        bench_.reset();
    }
    KernelTest::TearDown();
}

TunerBuilder& PropertyTest::Build(uint32_t model)
{
    TunerOptions options;
    options.Model = model;
    return Build(options);
}

TunerBuilder& PropertyTest::Build(const TunerOptions& options)
{
    bench_.emplace(options);
    ClearRecords();
    return *bench_;
}

void PropertyTest::PrepareFilter(uint32_t pinCount)
{
    TunerDevice& tuner = Tuner();
    tuner.BuildPropertyTable();
    tuner.BuildTopology();
    if (ownMediums_ == nullptr) {
        originalMediums_ = tuner.Mediums;
        originalDirections_ = tuner.PinDirections;
        originalPinCount_ = tuner.PinCount;
    } else {
        ExFreePool(ownMediums_);
        ExFreePool(ownDirections_);
    }
    ownMediums_ = static_cast<KSPIN_MEDIUM*>(
        ExAllocatePoolWithTag(NonPagedPool, pinCount * sizeof(KSPIN_MEDIUM), DriverPoolTag));
    ownDirections_ = static_cast<BOOL*>(ExAllocatePoolWithTag(NonPagedPool, pinCount * sizeof(BOOL), DriverPoolTag));
    ASSERT_NE(ownMediums_, nullptr);
    ASSERT_NE(ownDirections_, nullptr);
    std::memset(ownMediums_, 0xA5, pinCount * sizeof(KSPIN_MEDIUM));
    std::memset(ownDirections_, 0xA5, pinCount * sizeof(BOOL));
    tuner.Mediums = ownMediums_;
    tuner.PinDirections = ownDirections_;
    tuner.PinCount = pinCount;
}

NTSTATUS PropertyTest::RegisterFilter(DEVICE_OBJECT* pdo)
{
    auto extension = std::make_unique<DeviceExtension>();
    extension->RealPhysicalDeviceObject = pdo;
    HW_STREAM_REQUEST_BLOCK srb = {};
    srb.SizeOfThisPacket = sizeof(srb);
    srb.Command = SRB_INITIALIZATION_COMPLETE;
    srb.HwDeviceExtension = extension.get();
    srb.Status = Tuner().RegisterTunerFilter(&srb);
    return srb.Status;
}

void PropertyTest::ClearRecords()
{
    bench_->ClearRecords();
    bench_->Bridge().ClearRecords();
}

std::vector<std::vector<uint8_t>> PropertyTest::TunerWrites() const
{
    return bench_->WritesTo(const_cast<TunerBuilder&>(*bench_).Tuner().TunerAddress);
}

std::vector<std::vector<uint8_t>> PropertyTest::DemodulatorWrites() const
{
    return bench_->WritesTo(IfDemodulatorAddress);
}

std::vector<sim::BridgeNotification> PropertyTest::Notifications()
{
    return bench_->Bridge().Notifications();
}

NTSTATUS PropertyTest::SetFrequency(uint32_t frequency, uint32_t channel, uint32_t country)
{
    KSPROPERTY_TUNER_FREQUENCY_S record = {};
    record.Frequency = frequency;
    record.Channel = channel;
    record.Country = country;
    return Set(KSPROPERTY_TUNER_FREQUENCY, record).Status;
}

NTSTATUS PropertyTest::SetStandard(uint32_t standard)
{
    KSPROPERTY_TUNER_STANDARD_S record = {};
    record.Standard = standard;
    return Set(KSPROPERTY_TUNER_STANDARD, record).Status;
}

NTSTATUS PropertyTest::SetMode(uint32_t mode)
{
    KSPROPERTY_TUNER_MODE_S record = {};
    record.Mode = mode;
    return Set(KSPROPERTY_TUNER_MODE, record).Status;
}

uint32_t PropertyTest::CurrentStandardAsReported()
{
    auto reply = Get<KSPROPERTY_TUNER_STANDARD_S>(KSPROPERTY_TUNER_STANDARD);
    EXPECT_EQ(reply.Status, STATUS_SUCCESS);
    return reply.Data.Standard;
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes)
{
    return std::vector<uint8_t>(bytes);
}

KSPROPERTY TunerHeader(ULONG id, ULONG flags)
{
    KSPROPERTY header = {};
    header.Set = PROPSETID_TUNER;
    header.Id = id;
    header.Flags = flags;
    return header;
}
