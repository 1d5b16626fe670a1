// The model catalogue: capabilities and per-model constants of the 36 tuner
// modules.

#include "platform/KernelStreaming.h"
#include "tuner/TunerDevice.h"

namespace {

constexpr uint32_t TvOnly = KSPROPERTY_TUNER_MODE_TV;
constexpr uint32_t TvAndFm = KSPROPERTY_TUNER_MODE_TV | KSPROPERTY_TUNER_MODE_FM_RADIO;

constexpr uint32_t TvGranularityHz = 62500;
constexpr uint32_t RadioGranularityHz = 50000;
constexpr uint32_t SettlingTimeMs = 150;
constexpr uint32_t TvInputs = 2;
constexpr uint32_t PinsPerModel = 2;

struct CatalogueEntry {
    uint32_t Standards;
    uint32_t StandardCount;
    uint32_t TvMin;
    uint32_t TvMax;
    uint32_t IntermediateFrequency;
    uint32_t LowBandLimit;   // unused by the synthesizer (17)
    uint32_t MidBandLimit;
    uint32_t Modes;
    uint32_t HasAuxiliaryByte;
    uint32_t MapNtscToPalB;
    uint32_t RadioMin;       // 0 and 0: no radio range
    uint32_t RadioMax;
};

// Models 21 and 27 offer FM radio like their siblings 2 and 31.
constexpr CatalogueEntry Catalogue[TunerModelCount] = {
    // standards count  TV min     TV max      IF        low band   mid band  modes   aux ntsc radio min  radio max
    {0xD051,  5, 48250000, 855250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  //  0 FI1216MK2
    {0xCD051, 7, 48250000, 855250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  //  1 FI1216MF
    {0xD051,  5, 48250000, 855250000, 38900000, 170000000, 450000000, TvAndFm, 0, 1, 87500000, 108000000},  //  2 FM1216MK2
    {0x601,   3, 55250000, 801250000, 45750000, 160000000, 454000000, TvOnly,  0, 0, 0,        0        },  //  3 FI1236
    {0x601,   3, 55250000, 801250000, 45750000, 160000000, 454000000, TvAndFm, 0, 0, 76000000, 108000000},  //  4 FM1236
    {0x101,   1, 45750000, 855250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  //  5 FI1246
    {0x101,   1, 45750000, 855250000, 38900000, 170000000, 450000000, TvAndFm, 0, 1, 87500000, 108000000},  //  6 FM1246
    {0x32121, 5, 49750000, 863250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  //  7 FI1256
    {0x32121, 5, 49750000, 863250000, 38900000, 170000000, 450000000, TvAndFm, 0, 1, 87500000, 108000000},  //  8 FM1256
    {0x3,     1, 91250000, 765250000, 58750000, 160000000, 452000000, TvOnly,  0, 1, 0,        0        },  //  9 FI1286
    {0x601,   1, 55250000, 801250000, 45750000, 160000000, 442000000, TvOnly,  1, 0, 0,        0        },  // 10 FQ1236MK3
    {0x601,   1, 55250000, 801250000, 45750000, 160000000, 442000000, TvAndFm, 1, 0, 87500000, 108000000},  // 11 FM1236MK3
    {0xD2171, 8, 45250000, 864250000, 38900000, 160000000, 442000000, TvAndFm, 1, 1, 87500000, 108000000},  // 12 FM1216ME
    {0xD2171, 8, 45250000, 864250000, 38900000, 160000000, 442000000, TvOnly,  1, 1, 0,        0        },  // 13 FQ1216ME
    {0x3,     1, 91250000, 765250000, 58750000, 160000000, 442000000, TvOnly,  1, 1, 0,        0        },  // 14 FQ1286MK3
    {0x120,   2, 45250000, 864250000, 38900000, 170000000, 450000000, TvOnly,  0, 0, 0,        0        },  // 15 FI1256MP
    {0x70,    3, 45250000, 864250000, 38900000, 170000000, 450000000, TvOnly,  0, 0, 0,        0        },  // 16 FI1216MP
    {0xF01F1, 9, 38000000, 863250000, 38900000, 0,         0,         TvAndFm, 0, 1, 87500000, 108000000},  // 17 MT2032
    {0x601,   3, 55250000, 801250000, 45750000, 160000000, 454000000, TvOnly,  0, 0, 0,        0        },  // 18 TAPC-H701P
    {0x601,   3, 55250000, 801250000, 45750000, 160000000, 454000000, TvAndFm, 0, 0, 76000000, 108000000},  // 19 TAPC-H001P
    {0xD051,  5, 48250000, 855250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  // 20 TAPC-G701P
    {0xD051,  5, 48250000, 855250000, 38900000, 170000000, 450000000, TvAndFm, 0, 1, 87500000, 108000000},  // 21 TAPC-G001P
    {0x32121, 5, 49750000, 863250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  // 22 TAPC-Q703P
    {0x32121, 5, 49750000, 863250000, 38900000, 170000000, 450000000, TvAndFm, 0, 1, 87500000, 108000000},  // 23 TAPC-Q001P
    {0x101,   1, 45750000, 855250000, 38900000, 170000000, 450000000, TvOnly,  0, 1, 0,        0        },  // 24 TAPC-W701P
    {0x101,   1, 45750000, 855250000, 38900000, 170000000, 450000000, TvAndFm, 0, 1, 87500000, 108000000},  // 25 TAPC-W001P
    {0x120,   2, 45250000, 864250000, 38900000, 170000000, 450000000, TvOnly,  0, 0, 0,        0        },  // 26 TAPC-Q704P
    {0x70,    3, 45250000, 864250000, 38900000, 170000000, 450000000, TvAndFm, 0, 0, 87500000, 108000000},  // 27 TPI8PSB02P
    {0x70,    3, 45250000, 864250000, 38900000, 170000000, 450000000, TvOnly,  0, 0, 0,        0        },  // 28 TAPC-G702P
    {0x601,   3, 55250000, 801250000, 45750000, 160000000, 454000000, TvOnly,  0, 0, 0,        0        },  // 29 TCL2002N-6A
    {0x601,   3, 55250000, 801250000, 45750000, 160000000, 454000000, TvAndFm, 0, 0, 76000000, 108000000},  // 30 TCL2002N-1F
    {0x70,    3, 45250000, 864250000, 38900000, 170000000, 450000000, TvAndFm, 0, 0, 87500000, 108000000},  // 31 TCL2002MB-1F
    {0x70,    3, 45250000, 864250000, 38900000, 170000000, 450000000, TvOnly,  0, 0, 0,        0        },  // 32 TCL2002MB-3
    {0x120,   2, 45250000, 864250000, 38900000, 170000000, 450000000, TvAndFm, 0, 0, 87500000, 108000000},  // 33 TCL2002MI-1F
    {0x120,   2, 45250000, 864250000, 38900000, 170000000, 450000000, TvOnly,  0, 0, 0,        0        },  // 34 TCL2002MI-3
    {0x120,   2, 45250000, 864250000, 38900000, 170000000, 450000000, TvAndFm, 0, 0, 87500000, 108000000},  // 35 TVF6831-DIFF
};

}  // namespace

bool TunerDevice::ConfigureModel(uint32_t model)
{
    __builtin_memset(&TvCaps, 0, sizeof(TvCaps));
    __builtin_memset(&RadioCaps, 0, sizeof(RadioCaps));
    IntermediateFrequency = 0;
    if (model >= TunerModelCount) return false;

    const CatalogueEntry& entry = Catalogue[model];
    TvCaps.StandardsSupported = entry.Standards;
    TvCaps.MinFrequency = entry.TvMin;
    TvCaps.MaxFrequency = entry.TvMax;
    TvCaps.NumberOfInputs = TvInputs;
    StandardCount = entry.StandardCount;
    IntermediateFrequency = entry.IntermediateFrequency;
    ModesSupported = entry.Modes;
    PinCount = PinsPerModel;
    if (entry.HasAuxiliaryByte) HasAuxiliaryByte = 1;
    if (entry.MapNtscToPalB) MapNtscToPalB = 1;

    if (model == Mt2032Model) {
        // The synthesizer has no band limits; it is programmed once here.
        Mt2032Initialize();
    } else {
        LowBandLimit = entry.LowBandLimit;
        MidBandLimit = entry.MidBandLimit;
    }

    TvCaps.TuningGranularity = TvGranularityHz;
    TvCaps.SettlingTime = SettlingTimeMs;
    TvCaps.Strategy = KS_TUNER_STRATEGY_PLL;
    ConfigureRadioCaps(model);

    CurrentMode = KSPROPERTY_TUNER_MODE_TV;
    CurrentCaps = &TvCaps;
    return true;
}

void TunerDevice::ConfigureRadioCaps(uint32_t model)
{
    RadioCaps.StandardsSupported = 0;
    RadioCaps.NumberOfInputs = 0;
    RadioCaps.TuningGranularity = RadioGranularityHz;
    RadioCaps.SettlingTime = SettlingTimeMs;
    RadioCaps.Strategy = KS_TUNER_STRATEGY_PLL;
    if (model < TunerModelCount && Catalogue[model].RadioMin != 0) {
        RadioCaps.MinFrequency = Catalogue[model].RadioMin;
        RadioCaps.MaxFrequency = Catalogue[model].RadioMax;
    }
}
