// The real driver, loaded by the simulated class driver, on simulated boards.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "driver/DeviceExtension.h"
#include "driver/DriverEntry.h"
#include "sim/Board.h"
#include "sim/bus/I2cBus.h"
#include "sim/stream/Requests.h"
#include "sim/stream/StreamClass.h"
#include "tests/support/KernelTest.h"
#include "tuner/ModelNames.h"

namespace test {

// A tuned frequency lies within half a tuning step of the one asked for.
constexpr double HalfStepHz = 31250;

// A board with the module of a model at 0xC2 and the registry values an
// installer would write for it.
inline sim::BoardDescription BoardFor(uint32_t model, uint32_t defaultStandard = KS_AnalogVideo_PAL_B)
{
    sim::BoardDescription board = sim::ModuleBoard(model, 0xC2);
    board.WithRegistry(u"TunerType", TunerModelNames[model])
        .WithRegistry(u"Address", u"0xC2")
        .WithRegistry(u"DefaultStandard", [&] {
            std::string text = std::to_string(defaultStandard);
            return std::u16string(text.begin(), text.end());
        }());
    return board;
}

struct BusWrite {
    uint8_t Address;
    std::vector<uint8_t> Bytes;
    bool operator==(const BusWrite&) const = default;
};

// The write segments on the bus since its trace was last cleared.
inline std::vector<BusWrite> BusWrites(const sim::I2cBus& bus)
{
    std::vector<BusWrite> writes;
    for (const sim::BusSegment& segment : bus.Trace()) {
        if (!segment.Read) writes.push_back({segment.Address, segment.Data});
    }
    return writes;
}

inline std::ostream& operator<<(std::ostream& out, const BusWrite& write)
{
    out << std::hex << "{0x" << int(write.Address) << ":";
    for (uint8_t byte : write.Bytes) out << " " << int(byte);
    return out << "}" << std::dec;
}

class DriverTest : public KernelTest {
protected:
    std::shared_ptr<sim::LoadedDriver> Driver()
    {
        if (!driver_) driver_ = sim::LoadDriver(DriverEntry);
        return driver_;
    }

    static DeviceExtension& ExtensionOf(sim::Adapter& adapter)
    {
        return *static_cast<DeviceExtension*>(adapter.DeviceExtension());
    }

private:
    std::shared_ptr<sim::LoadedDriver> driver_;
};

}  // namespace test
