// The four-byte PLL word: divider, control byte and band byte.

#include "platform/KernelStreaming.h"
#include "tuner/TunerDevice.h"

namespace {

constexpr uint32_t TvStepHz = 62500;
constexpr uint32_t FmStepHz = 50000;
constexpr uint32_t FmIntermediateFrequency = 10700000;

// How a module's band byte selects its band (and, for model 1, the SECAM
// switch in its low bits).
enum BandByteLayout : uint8_t {
    NoPllWord,         // the synthesizer, and any unknown model
    HighNibble,        // 0xA0 low, 0x90 mid, 0x30 high
    HighNibbleSecam,   // the same, low bits 3 SECAM L, 2 SECAM L', 1 any other
    BitPerBandTo04,    // 0x01 low, 0x02 mid, 0x04 high
    BitPerBandTo08,    // 0x01 low, 0x02 mid, 0x08 high
};

struct BandWords {
    uint16_t Low;
    uint16_t Mid;
    uint16_t High;
};

// Indexed by BandByteLayout; HighNibbleSecam is resolved by the standard.
constexpr BandWords TvWords[] = {
    //  low     mid     high
    {0,      0,      0     },  // NoPllWord
    {0xCEA0, 0xCE90, 0xCE30},  // HighNibble
    {0xCEA1, 0xCE91, 0xCE31},  // HighNibbleSecam, any other standard
    {0xCE01, 0xCE02, 0xCE04},  // BitPerBandTo04
    {0xCE01, 0xCE02, 0xCE08},  // BitPerBandTo08
};
constexpr BandWords SecamLWords = {0xCEA3, 0xCE93, 0xCE33};
constexpr BandWords SecamL1Words = {0xCEA2, 0xCE92, 0xCE32};

struct ModelWords {
    BandByteLayout Layout;
    uint16_t Fm;  // 0: no FM radio word
};

constexpr ModelWords Words[TunerModelCount] = {
    //   layout             FM word
    {HighNibble,       0     },  //  0
    {HighNibbleSecam,  0     },  //  1
    {HighNibble,       0x88A5},  //  2
    {HighNibble,       0     },  //  3
    {HighNibble,       0x88A5},  //  4
    {HighNibble,       0     },  //  5
    {HighNibble,       0x88A5},  //  6
    {HighNibble,       0     },  //  7
    {HighNibble,       0x88A5},  //  8
    {HighNibble,       0     },  //  9
    {BitPerBandTo04,   0     },  // 10
    {BitPerBandTo04,   0x8819},  // 11
    {BitPerBandTo04,   0x8819},  // 12
    {BitPerBandTo04,   0     },  // 13
    {BitPerBandTo04,   0     },  // 14
    {HighNibble,       0     },  // 15
    {HighNibble,       0     },  // 16
    {NoPllWord,        0     },  // 17
    {BitPerBandTo08,   0     },  // 18
    {BitPerBandTo08,   0x8805},  // 19
    {BitPerBandTo08,   0     },  // 20
    {BitPerBandTo08,   0x8805},  // 21
    {BitPerBandTo08,   0     },  // 22
    {BitPerBandTo08,   0x8805},  // 23
    {BitPerBandTo08,   0     },  // 24
    {BitPerBandTo08,   0x8805},  // 25
    {BitPerBandTo08,   0     },  // 26
    {HighNibble,       0x88A5},  // 27
    {BitPerBandTo08,   0     },  // 28
    {BitPerBandTo08,   0     },  // 29
    {BitPerBandTo08,   0x8805},  // 30
    {HighNibble,       0x88A5},  // 31
    {BitPerBandTo08,   0     },  // 32
    {HighNibble,       0x88A5},  // 33
    {BitPerBandTo08,   0     },  // 34
    {HighNibble,       0x88A5},  // 35
};

// Two NTSC cable channels that models 3 and 4 take with a word of their own,
// whatever the band.
constexpr uint16_t NtscCableChannelWord = 0x8E34;
bool IsNtscCableChannel(uint32_t model, uint32_t standard, uint32_t frequency)
{
    return (model == 3 || model == 4) && standard == KS_AnalogVideo_NTSC_M &&
           (frequency == 353500000 || frequency == 359500000);
}

}  // namespace

bool TunerDevice::TuneFrequency(uint32_t frequency)
{
    if (Model == Mt2032Model) return Mt2032Tune(frequency);

    if (CurrentMode == KSPROPERTY_TUNER_MODE_TV) {
        // The local oscillator runs one picture IF above the carrier.
        Divider = (IntermediateFrequency + frequency) / TvStepHz;
        ControlWord = TvControlWord(frequency);
    } else if (CurrentMode == KSPROPERTY_TUNER_MODE_FM_RADIO) {
        Divider = (frequency + FmIntermediateFrequency) / FmStepHz;
        ControlWord = FmControlWord();
    }
    if (ControlWord == 0) return false;

    uint8_t word[4] = {uint8_t(Divider >> 8), uint8_t(Divider), uint8_t(ControlWord >> 8), uint8_t(ControlWord)};
    bool written = Client->WriteBytes(4, word);
    return WriteAuxiliaryByte(word, written);
}

uint16_t TunerDevice::TvControlWord(uint32_t frequency) const
{
    if (Model >= TunerModelCount) return 0;
    if (IsNtscCableChannel(Model, CurrentStandard, frequency)) return NtscCableChannelWord;

    BandByteLayout layout = Words[Model].Layout;
    const BandWords* words = &TvWords[layout];
    if (layout == HighNibbleSecam) {
        if (CurrentStandard == KS_AnalogVideo_SECAM_L) words = &SecamLWords;
        if (CurrentStandard == KS_AnalogVideo_SECAM_L1) words = &SecamL1Words;
    }
    if (frequency <= LowBandLimit) return words->Low;
    if (frequency <= MidBandLimit) return words->Mid;
    return words->High;
}

uint16_t TunerDevice::FmControlWord() const
{
    return Model < TunerModelCount ? Words[Model].Fm : 0;
}
