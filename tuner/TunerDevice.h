// The tuner object: everything the driver knows about the fitted tuner
// module, one per adapter, built in place in the device extension behind
// the I2C client. Its operations are spread over the subsystems that
// own them (tuner/, properties/, config/, driver/).
#pragma once

#include "i2c/I2cClient.h"
#include "platform/Kernel.h"
#include "platform/KernelStreaming.h"
#include "platform/StreamClass.h"
#include "platform/Types.h"

class PeriodicTimer;

// Capabilities reported for one tuner mode, in the platform's order.
struct ModeCaps {
    uint32_t StandardsSupported;
    uint32_t MinFrequency;
    uint32_t MaxFrequency;
    uint32_t TuningGranularity;
    uint32_t NumberOfInputs;
    uint32_t SettlingTime;
    uint32_t Strategy;
};

constexpr uint32_t TunerModelCount = 36;
constexpr uint32_t Mt2032Model = 17;
constexpr uint8_t IfDemodulatorAddress = 0x86;
constexpr uint32_t TunerPropertyCount = 7;

class TunerDevice {
public:
    // Construction in place: yields no object when the slot's size differs.
    static void* operator new(size_t size, void* slot, size_t slotSize) noexcept;

    // Construction from the registry and the board EEPROM (config/).
    TunerDevice(DEVICE_OBJECT* registryDevice, I2cClient* client, uint32_t* code);

    // Sets the virtual table, for test support that fills the fields of a
    // zero-filled object by hand. The records with const members must be
    // initialised; they are zeroed, as the memory already is.
    enum class BareObject { Tag };
    explicit TunerDevice(BareObject) : FilterTopology{}, PropertyItems{}, PropertySet{} {}

    // The AGC cycle's tick, called by the timer's DPC (tuner/AgcCycle.cpp).
    virtual void AgcTick();

    // Catalogue (tuner/Catalogue.cpp).
    bool ConfigureModel(uint32_t model);
    void ConfigureRadioCaps(uint32_t model);

    // PLL tuning (tuner/PllTuning.cpp).
    bool TuneFrequency(uint32_t frequency);
    uint16_t TvControlWord(uint32_t frequency) const;
    uint16_t FmControlWord() const;

    // Auxiliary byte and AGC cycle (tuner/AgcCycle.cpp).
    bool WriteAuxiliaryByte(uint8_t* pllWord, bool pllWriteResult);
    void StartAgcCycle();
    void StopAgcCycle();
    // Stops the AGC timer and its pending write for good and frees both;
    // PASSIVE_LEVEL. Also the device stop's way of ending the cycle.
    void DestroyAgcTimer();

    // Standard and mode selection (tuner/StandardSelection.cpp).
    bool SetVideoStandard(uint32_t standard);
    bool SetTunerMode(uint32_t mode);
    bool WriteDemodulator(uint8_t address, uint8_t first, uint8_t second, uint8_t third);
    bool SetupRadioDemodulator();

    // MT2032 synthesizer (tuner/Mt2032.cpp).
    bool Mt2032Initialize();
    bool Mt2032Tune(uint32_t frequency);
    uint32_t CheckSpurs() const;
    uint8_t SelectVco(uint32_t lo1, uint32_t upperThresholds) const;

    // Tuning status (tuner/TuningStatus.cpp).
    bool ReadTunerStatus(int32_t* offset, uint32_t* busy);
    uint8_t ReadStatusByte(uint8_t address);
    void ReadMt2032Status(int32_t* offset, uint32_t* busy);
    static int32_t DecodeTvOffset(uint32_t code, uint32_t* busy);
    static int32_t DecodeRadioOffset(uint32_t code, uint32_t* busy);

    // Property handlers (properties/).
    bool GetTunerProperty(HW_STREAM_REQUEST_BLOCK* srb);
    bool SetTunerProperty(HW_STREAM_REQUEST_BLOCK* srb);
    bool SelectInput(uint32_t inputIndex);

    // Filter description (properties/).
    void BuildPropertyTable();
    void BuildTopology();
    void GetStreamInfo(HW_STREAM_REQUEST_BLOCK* srb);
    NTSTATUS RegisterTunerFilter(HW_STREAM_REQUEST_BLOCK* srb);

    // Power (driver/).
    NTSTATUS SetPowerState(uint32_t newState);

    // ---- Fields, in their order ----

    DEVICE_OBJECT* RegistryDeviceObject;
    uint32_t PowerState;

    // Filter description handed to the class driver; it keeps pointers into it.
    GUID CategoryGuid;
    KSTOPOLOGY FilterTopology;
    KSPIN_MEDIUM* Mediums;
    BOOL* PinDirections;
    KSPROPERTY_ITEM PropertyItems[TunerPropertyCount];
    KSPROPERTY_SET PropertySet;
    HW_STREAM_HEADER StreamHeader;

    uint32_t StandardCount;
    ModeCaps* CurrentCaps;
    ModeCaps TvCaps;
    ModeCaps RadioCaps;
    uint32_t CurrentStandard;
    uint32_t CurrentFrequency;
    uint32_t CurrentChannel;
    uint32_t CountryCode;
    uint32_t ModesSupported;
    uint32_t CurrentMode;
    uint32_t PinCount;
    uint32_t CurrentInput;
    uint32_t Model;
    uint32_t IntermediateFrequency;
    uint32_t Divider;
    uint16_t ControlWord;
    uint32_t MidBandLimit;
    uint32_t LowBandLimit;
    uint8_t TunerAddress;
    uint32_t InterCarrierMode;
    uint32_t DefaultStandard;
    uint32_t StandardChanged;
    uint32_t HasAuxiliaryByte;
    uint32_t AgcTickCount;
    uint8_t AgcState;
    uint32_t MapNtscToPalB;
    uint32_t Mt2032Reference;
    uint32_t Mt2032FirstIf;
    uint32_t Lo1Desired;
    uint32_t Lo1Divider;
    uint32_t Lo1Actual;
    uint32_t Lo2Frequency;
    uint32_t Lo2Integer;
    uint32_t Lo2Fraction;
    I2cClient* Client;
    PeriodicTimer* AgcTimer;

    // ---- State beyond the original field list ----

    // The AGC tick runs at DISPATCH_LEVEL, where the bridge must not be
    // called: each tick's write is handed to a work item that performs it at
    // PASSIVE_LEVEL (tuner/AgcCycle.cpp). WorkItemDevice is the class
    // driver's device object, set at device start.
    DEVICE_OBJECT* WorkItemDevice;
    IO_WORKITEM* AgcWorkItem;
    // Bit 0: a tick's write waits for its work item or is being performed;
    // bit 1: the cycle is torn down, so that work item frees itself.
    uint32_t AgcWritePending;
    uint8_t AgcWriteBytes[4];
    KEVENT AgcWriteIdle;       // the teardown waits here for a pending write

    // The standard or the mode changed since the last successful tune, so a
    // frequency set for the current frequency still has to tune (properties/).
    uint32_t RetuneNeeded;

    // Power bookkeeping for the return to D0 (driver/).
    uint32_t WasInD3SinceD0;
    uint32_t AgcStoppedForPower;

private:
    void LoadTunerConfiguration(DEVICE_OBJECT* registryDevice, I2cClient* client, uint32_t* code);
};
