// Lock and fine-tuning offset, read from the tuner module's status byte and,
// for the modules with an IF demodulator, from the demodulator's.

#include "tuner/TunerDevice.h"

namespace {

constexpr uint8_t LockedBit = 0x40;
constexpr uint8_t OffsetBits = 0x07;
constexpr int32_t OffsetCodeZero = 2;  // the module's code for "on frequency"
constexpr uint8_t SynthesizerStatusRegister = 0x0E;
// The read address of the demodulator; the engine sets the read bit anyway.
constexpr uint8_t IfDemodulatorReadAddress = IfDemodulatorAddress | 1;

enum StatusSource : uint8_t {
    ModuleOffsetBits,  // bits 0 to 2 of the module's byte
    DemodulatorCode,   // the IF demodulator's offset code
    NoOffset,          // the module reports none
    Synthesizer,       // model 17: its own routine
};

constexpr StatusSource Sources[TunerModelCount] = {
    ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits,  //  0 to  3
    ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits,  //  4 to  7
    ModuleOffsetBits, ModuleOffsetBits, DemodulatorCode,  DemodulatorCode,   //  8 to 11
    DemodulatorCode,  DemodulatorCode,  DemodulatorCode,  ModuleOffsetBits,  // 12 to 15
    ModuleOffsetBits, Synthesizer,      ModuleOffsetBits, ModuleOffsetBits,  // 16 to 19
    ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits,  // 20 to 23
    ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits, ModuleOffsetBits,  // 24 to 27
    ModuleOffsetBits, NoOffset,         NoOffset,         NoOffset,          // 28 to 31
    NoOffset,         NoOffset,         NoOffset,         ModuleOffsetBits,  // 32 to 35
};

// Offset by the IF demodulator's code, for models 10 to 14.
constexpr int8_t DemodulatorOffsets[16] = {
    //  0  1  2  3  4  5  6  7   8   9  10  11  12  13  14  15
    0, 1, 1, 1, 2, 2, 2, 2, -2, -2, -2, -2, -1, -1, -1, 0,
};

void PrepareRead(I2cTransfer& transfer, uint8_t address, uint8_t* destination)
{
    transfer.DeviceAddress = address;
    transfer.Result = 0;
    transfer.WriteCount = 0;
    transfer.ReadCount = 1;
    transfer.TransferFlags = 0;
    transfer.WriteBuffer = nullptr;
    transfer.ReadBuffer = destination;
    transfer.OrMask = 0;
    transfer.AndMask = 0;
}

}  // namespace

bool TunerDevice::ReadTunerStatus(int32_t* offset, uint32_t* busy)
{
    StatusSource source = Model < TunerModelCount ? Sources[Model] : ModuleOffsetBits;

    uint8_t status = 0;
    uint8_t subaddress = SynthesizerStatusRegister;
    I2cTransfer transfer;
    PrepareRead(transfer, TunerAddress, &status);
    if (source == Synthesizer) {
        transfer.WriteCount = 1;
        transfer.WriteBuffer = &subaddress;
    }
    if (!Client->PerformTransfer(transfer) || transfer.Result != TransferDone) return false;

    if (source == Synthesizer) {
        ReadMt2032Status(offset, busy);
        return true;
    }

    *busy = (status & LockedBit) ? 0 : 1;
    if (*busy) return true;

    switch (source) {
    case DemodulatorCode:
        *offset = DemodulatorOffsets[(ReadStatusByte(IfDemodulatorReadAddress) >> 1) & 0x0F];
        break;
    case NoOffset:
        *offset = 0;
        break;
    default:
        *offset = int32_t(status & OffsetBits) - OffsetCodeZero;
        break;
    }
    return true;
}

uint8_t TunerDevice::ReadStatusByte(uint8_t address)
{
    uint8_t status = 0;
    I2cTransfer transfer;
    PrepareRead(transfer, address, &status);
    if (!Client->PerformTransfer(transfer) || transfer.Result != TransferDone) return 0;
    return status;
}
