// Fine-tuning status of the double-conversion synthesizer (model 17): the
// offset comes from the IF demodulator's status byte, decoded by mode.

#include "platform/KernelStreaming.h"
#include "tuner/TunerDevice.h"

namespace {

// The demodulator sets bit 0 while its measurement is not ready.
constexpr uint8_t NotReady = 0x01;
constexpr uint32_t MaxStatusReads = 10;

constexpr uint32_t OffsetCode(uint8_t status) { return (status >> 1) & 0x0F; }

// Offset in tuning steps by the demodulator's 4-bit code. The TV and radio
// columns have boundaries of their own; in radio mode codes 3 to 10 also
// report the tuner busy.
constexpr int32_t TvOffsetByCode[16] = {
    //  0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
        0,  0, +1, +1, +1, +2, +2, +2, -2, -2, -2, -1, -1, -1,  0,  0,
};
constexpr int32_t RadioOffsetByCode[16] = {
    //  0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
        0, +1, +1, +2, +2, +2, +2, +2, +2, +2, +2, -2, -2, -1, -1,  0,
};
constexpr uint32_t RadioBusyByCode[16] = {
    //  0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
        0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  0,  0,  0,  0,  0,
};

}  // namespace

void TunerDevice::ReadMt2032Status(int32_t* offset, uint32_t* busy)
{
    // A failed read yields 0, which also ends the loop.
    uint8_t status = ReadStatusByte(IfDemodulatorAddress);
    for (uint32_t reads = 1; (status & NotReady) && reads < MaxStatusReads; ++reads)
        status = ReadStatusByte(IfDemodulatorAddress);

    const uint32_t code = OffsetCode(status);
    if (CurrentMode == KSPROPERTY_TUNER_MODE_TV)
        *offset = DecodeTvOffset(code, busy);
    else
        *offset = DecodeRadioOffset(code, busy);
}

int32_t TunerDevice::DecodeTvOffset(uint32_t code, uint32_t* busy)
{
    *busy = 0;
    return TvOffsetByCode[code & 0x0F];
}

int32_t TunerDevice::DecodeRadioOffset(uint32_t code, uint32_t* busy)
{
    *busy = RadioBusyByCode[code & 0x0F];
    return RadioOffsetByCode[code & 0x0F];
}
