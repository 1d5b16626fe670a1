// Fixture of the property tests: one tuner on a simulated bridge and bus,
// the filter description built as construction builds it, and what the
// bridge and the bus saw.
#pragma once

#include <cstdint>
#include <cstring>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "driver/DeviceExtension.h"
#include "sim/bus/CaptureBridge.h"
#include "tests/support/KernelTest.h"
#include "tests/support/PropertyRequest.h"
#include "tests/support/TunerBuilder.h"

class PropertyTest : public KernelTest {
protected:
    void TearDown() override;

    TunerBuilder& Build(uint32_t model);
    TunerBuilder& Build(const TunerOptions& options);
    TunerBuilder& Bench() { return *bench_; }
    TunerDevice& Tuner() { return bench_->Tuner(); }

    // The property table and topology, and medium and direction arrays for
    // pinCount pins, filled with stale bytes as pool memory comes.
    void PrepareFilter(uint32_t pinCount);
    // SRB_INITIALIZATION_COMPLETE for an adapter whose physical device is pdo.
    NTSTATUS RegisterFilter(DEVICE_OBJECT* pdo);

    // Forgets the bus trace, the chips' and the bridge's records.
    void ClearRecords();
    std::vector<std::vector<uint8_t>> TunerWrites() const;
    std::vector<std::vector<uint8_t>> DemodulatorWrites() const;
    std::vector<sim::BridgeNotification> Notifications();

    template <typename Record>
    test::PropertyReply<Record> Get(ULONG id, const Record& input = {})
    {
        return test::GetProperty(Tuner(), id, input);
    }
    template <typename Record>
    test::PropertyReply<Record> Set(ULONG id, const Record& record)
    {
        return test::SetProperty(Tuner(), id, record);
    }
    NTSTATUS SetFrequency(uint32_t frequency, uint32_t channel = 0, uint32_t country = 0);
    NTSTATUS SetStandard(uint32_t standard);
    NTSTATUS SetMode(uint32_t mode);
    uint32_t CurrentStandardAsReported();

private:
    std::optional<TunerBuilder> bench_;
    // Arrays of our own in place of those the tuner came with.
    KSPIN_MEDIUM* ownMediums_ = nullptr;
    BOOL* ownDirections_ = nullptr;
    KSPIN_MEDIUM* originalMediums_ = nullptr;
    BOOL* originalDirections_ = nullptr;
    uint32_t originalPinCount_ = 0;
};

// Bytes of a record as hex, so that a whole-record comparison shows where
// it differs.
template <typename Record>
std::string Hex(const Record& record)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
    std::ostringstream text;
    for (size_t i = 0; i < sizeof(Record); ++i) {
        text << (i % 8 == 0 && i != 0 ? " | " : i != 0 ? " " : "") << std::hex << std::setw(2) << std::setfill('0')
             << int(bytes[i]);
    }
    return text.str();
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes);
KSPROPERTY TunerHeader(ULONG id, ULONG flags = KSPROPERTY_TYPE_GET);
