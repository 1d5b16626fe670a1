// Kernel-streaming records, property set and category identifiers, and the
// analog tuner property records, with their published 32-bit layouts.
#pragma once

#include "platform/Types.h"

// KSIDENTIFIER is a union with a LONGLONG, which makes it 8-aligned.
struct alignas(8) KSIDENTIFIER {
    GUID Set;
    ULONG Id;
    ULONG Flags;
};
typedef KSIDENTIFIER KSPROPERTY;
typedef KSIDENTIFIER KSPIN_MEDIUM;

typedef NTSTATUS(NTAPI* PFNKSHANDLER)(PVOID irp, KSIDENTIFIER* request, PVOID data);

struct KSPROPERTY_ITEM {
    ULONG PropertyId;
    union {
        PFNKSHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;  // stream class minidrivers store a flag here
    };
    ULONG MinProperty;
    ULONG MinData;
    union {
        PFNKSHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    const void* Values;
    ULONG RelationsCount;
    const KSPROPERTY* Relations;
    PFNKSHANDLER SupportHandler;
    ULONG SerializedSize;
};

struct KSPROPERTY_SET {
    const GUID* Set;
    ULONG PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    ULONG FastIoCount;
    const void* FastIoTable;
};

struct KSTOPOLOGY {
    ULONG CategoriesCount;
    const GUID* Categories;
    ULONG TopologyNodesCount;
    const GUID* TopologyNodes;
    ULONG TopologyConnectionsCount;
    const void* TopologyConnections;
    const GUID* TopologyNodesNames;
    ULONG Reserved;
};

constexpr ULONG KSPROPERTY_TYPE_GET = 0x1;
constexpr ULONG KSPROPERTY_TYPE_SET = 0x2;
constexpr ULONG KSPROPERTY_TYPE_SETSUPPORT = 0x100;
constexpr ULONG KSPROPERTY_TYPE_BASICSUPPORT = 0x200;

constexpr ULONG KSPIN_DATAFLOW_IN = 1;
constexpr ULONG KSPIN_DATAFLOW_OUT = 2;

// ---- Tuner property set -----------------------------------------------------

enum KSPROPERTY_TUNER : ULONG {
    KSPROPERTY_TUNER_CAPS = 0,
    KSPROPERTY_TUNER_MODE_CAPS = 1,
    KSPROPERTY_TUNER_MODE = 2,
    KSPROPERTY_TUNER_STANDARD = 3,
    KSPROPERTY_TUNER_FREQUENCY = 4,
    KSPROPERTY_TUNER_INPUT = 5,
    KSPROPERTY_TUNER_STATUS = 6,
    KSPROPERTY_TUNER_IF_MEDIUM = 7,
};

constexpr ULONG KSPROPERTY_TUNER_MODE_TV = 0x1;
constexpr ULONG KSPROPERTY_TUNER_MODE_FM_RADIO = 0x2;
constexpr ULONG KSPROPERTY_TUNER_MODE_AM_RADIO = 0x4;
constexpr ULONG KSPROPERTY_TUNER_MODE_DSS = 0x8;
constexpr ULONG KSPROPERTY_TUNER_MODE_ATSC = 0x10;

constexpr ULONG KS_TUNER_STRATEGY_PLL = 0x1;
constexpr ULONG KS_TUNER_STRATEGY_SIGNAL_STRENGTH = 0x2;
constexpr ULONG KS_TUNER_STRATEGY_DRIVER_TUNES = 0x4;

constexpr ULONG KS_TUNER_TUNING_EXACT = 1;
constexpr ULONG KS_TUNER_TUNING_FINE = 2;
constexpr ULONG KS_TUNER_TUNING_COARSE = 3;

// Analog video standards (bits; values may be ORed).
constexpr ULONG KS_AnalogVideo_None = 0x00000000;
constexpr ULONG KS_AnalogVideo_NTSC_M = 0x00000001;
constexpr ULONG KS_AnalogVideo_NTSC_M_J = 0x00000002;
constexpr ULONG KS_AnalogVideo_NTSC_433 = 0x00000004;
constexpr ULONG KS_AnalogVideo_PAL_B = 0x00000010;
constexpr ULONG KS_AnalogVideo_PAL_D = 0x00000020;
constexpr ULONG KS_AnalogVideo_PAL_G = 0x00000040;
constexpr ULONG KS_AnalogVideo_PAL_H = 0x00000080;
constexpr ULONG KS_AnalogVideo_PAL_I = 0x00000100;
constexpr ULONG KS_AnalogVideo_PAL_M = 0x00000200;
constexpr ULONG KS_AnalogVideo_PAL_N = 0x00000400;
constexpr ULONG KS_AnalogVideo_PAL_60 = 0x00000800;
constexpr ULONG KS_AnalogVideo_SECAM_B = 0x00001000;
constexpr ULONG KS_AnalogVideo_SECAM_D = 0x00002000;
constexpr ULONG KS_AnalogVideo_SECAM_G = 0x00004000;
constexpr ULONG KS_AnalogVideo_SECAM_H = 0x00008000;
constexpr ULONG KS_AnalogVideo_SECAM_K = 0x00010000;
constexpr ULONG KS_AnalogVideo_SECAM_K1 = 0x00020000;
constexpr ULONG KS_AnalogVideo_SECAM_L = 0x00040000;
constexpr ULONG KS_AnalogVideo_SECAM_L1 = 0x00080000;
constexpr ULONG KS_AnalogVideo_PAL_N_COMBO = 0x00100000;

struct KSPROPERTY_TUNER_CAPS_S {
    KSPROPERTY Property;
    ULONG ModesSupported;
    KSPIN_MEDIUM VideoMedium;
    KSPIN_MEDIUM TVAudioMedium;
    KSPIN_MEDIUM RadioAudioMedium;
};

struct KSPROPERTY_TUNER_MODE_CAPS_S {
    KSPROPERTY Property;
    ULONG Mode;
    ULONG StandardsSupported;
    ULONG MinFrequency;
    ULONG MaxFrequency;
    ULONG TuningGranularity;
    ULONG NumberOfInputs;
    ULONG SettlingTime;
    ULONG Strategy;
};

struct KSPROPERTY_TUNER_MODE_S {
    KSPROPERTY Property;
    ULONG Mode;
};

struct KSPROPERTY_TUNER_STANDARD_S {
    KSPROPERTY Property;
    ULONG Standard;
};

struct KSPROPERTY_TUNER_FREQUENCY_S {
    KSPROPERTY Property;
    ULONG Frequency;
    ULONG LastFrequency;
    ULONG TuningFlags;
    ULONG VideoSubChannel;
    ULONG AudioSubChannel;
    ULONG Channel;
    ULONG Country;
};

struct KSPROPERTY_TUNER_INPUT_S {
    KSPROPERTY Property;
    ULONG InputIndex;
};

struct KSPROPERTY_TUNER_STATUS_S {
    KSPROPERTY Property;
    ULONG CurrentFrequency;
    ULONG PLLOffset;  // signed steps, carried in an unsigned member
    ULONG SignalStrength;
    ULONG Busy;
};

// ---- Identifiers ----------------------------------------------------------------

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID PROPSETID_TUNER = {
    0x6A2E0605, 0x28E4, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr GUID KSCATEGORY_TVTUNER = {
    0xA799A800, 0xA46D, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0x24, 0x01, 0xDC, 0xD4}};
inline constexpr GUID KSMEDIUMSETID_Standard = {
    0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// Mediums through which the board's other filters connect to the tuner.
inline constexpr GUID TunerVideoMediumGuid = {
    0xE95683C3, 0xE97D, 0x11D1, {0x94, 0xD0, 0x00, 0xA0, 0xC9, 0x95, 0xD8, 0xC3}};
inline constexpr GUID TunerTvAudioMediumGuid = {
    0x06A61EA1, 0xBD6E, 0x11D5, {0x8B, 0xCB, 0x00, 0x01, 0x02, 0x9E, 0xBE, 0xF9}};
inline constexpr GUID TunerRadioAudioMediumGuid = {
    0xC311FAB8, 0xDCDC, 0x11D4, {0x87, 0x59, 0x00, 0x90, 0x27, 0x22, 0x4C, 0x6E}};

// ---- Published layouts -----------------------------------------------------------

static_assert(sizeof(KSIDENTIFIER) == 24 && alignof(KSIDENTIFIER) == 8, "KSIDENTIFIER");
static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY");
static_assert(sizeof(KSPIN_MEDIUM) == 24, "KSPIN_MEDIUM");
static_assert(offsetof(KSIDENTIFIER, Id) == 16 && offsetof(KSIDENTIFIER, Flags) == 20, "KSIDENTIFIER members");
static_assert(sizeof(KSPROPERTY_ITEM) == 40, "KSPROPERTY_ITEM");
static_assert(offsetof(KSPROPERTY_ITEM, MinProperty) == 8, "KSPROPERTY_ITEM.MinProperty");
static_assert(offsetof(KSPROPERTY_ITEM, SetSupported) == 16, "KSPROPERTY_ITEM.SetSupported");
static_assert(offsetof(KSPROPERTY_ITEM, SerializedSize) == 36, "KSPROPERTY_ITEM.SerializedSize");
static_assert(sizeof(KSPROPERTY_SET) == 20, "KSPROPERTY_SET");
static_assert(sizeof(KSTOPOLOGY) == 32, "KSTOPOLOGY");
static_assert(offsetof(KSTOPOLOGY, TopologyNodesNames) == 24, "KSTOPOLOGY.TopologyNodesNames");
static_assert(sizeof(KSPROPERTY_TUNER_CAPS_S) == 104, "KSPROPERTY_TUNER_CAPS_S");
static_assert(offsetof(KSPROPERTY_TUNER_CAPS_S, ModesSupported) == 24, "CAPS.ModesSupported");
static_assert(offsetof(KSPROPERTY_TUNER_CAPS_S, VideoMedium) == 32, "CAPS.VideoMedium");
static_assert(offsetof(KSPROPERTY_TUNER_CAPS_S, TVAudioMedium) == 56, "CAPS.TVAudioMedium");
static_assert(offsetof(KSPROPERTY_TUNER_CAPS_S, RadioAudioMedium) == 80, "CAPS.RadioAudioMedium");
static_assert(sizeof(KSPROPERTY_TUNER_MODE_CAPS_S) == 56, "KSPROPERTY_TUNER_MODE_CAPS_S");
static_assert(offsetof(KSPROPERTY_TUNER_MODE_CAPS_S, Strategy) == 52, "MODE_CAPS.Strategy");
static_assert(sizeof(KSPROPERTY_TUNER_MODE_S) == 32, "KSPROPERTY_TUNER_MODE_S");
static_assert(sizeof(KSPROPERTY_TUNER_STANDARD_S) == 32, "KSPROPERTY_TUNER_STANDARD_S");
static_assert(sizeof(KSPROPERTY_TUNER_FREQUENCY_S) == 56, "KSPROPERTY_TUNER_FREQUENCY_S");
static_assert(offsetof(KSPROPERTY_TUNER_FREQUENCY_S, Channel) == 44, "FREQUENCY.Channel");
static_assert(offsetof(KSPROPERTY_TUNER_FREQUENCY_S, Country) == 48, "FREQUENCY.Country");
static_assert(sizeof(KSPROPERTY_TUNER_INPUT_S) == 32, "KSPROPERTY_TUNER_INPUT_S");
static_assert(sizeof(KSPROPERTY_TUNER_STATUS_S) == 40, "KSPROPERTY_TUNER_STATUS_S");
static_assert(offsetof(KSPROPERTY_TUNER_STATUS_S, PLLOffset) == 28, "STATUS.PLLOffset");
static_assert(offsetof(KSPROPERTY_TUNER_STATUS_S, Busy) == 36, "STATUS.Busy");
