// The filter as the class driver sees it: one property set, one category, no
// streams and no topology nodes. The class driver keeps pointers into these
// records for the adapter's lifetime, so they live in the tuner object.
#include "platform/KernelStreaming.h"
#include "platform/Status.h"
#include "platform/StreamClass.h"
#include "tuner/TunerDevice.h"

namespace {

struct PropertyItemRow {
    ULONG PropertyId;
    BOOLEAN GetSupported;
    BOOLEAN SetSupported;
    ULONG RecordSize;      // MinProperty and MinData
    ULONG SerializedSize;
};

// The class driver admits a request only with buffers of at least the
// record's size, which is why the handlers make no size test of their own.
constexpr PropertyItemRow PropertyItemRows[TunerPropertyCount] = {
    // Id                          get  set  record                                serialized
    {KSPROPERTY_TUNER_CAPS,         1,   0,   sizeof(KSPROPERTY_TUNER_CAPS_S),      0},
    {KSPROPERTY_TUNER_MODE_CAPS,    1,   0,   sizeof(KSPROPERTY_TUNER_MODE_CAPS_S), 0},
    {KSPROPERTY_TUNER_MODE,         1,   1,   sizeof(KSPROPERTY_TUNER_MODE_S),      0},
    {KSPROPERTY_TUNER_STANDARD,     1,   1,   sizeof(KSPROPERTY_TUNER_STANDARD_S),  sizeof(KSPROPERTY_TUNER_STANDARD_S)},
    {KSPROPERTY_TUNER_FREQUENCY,    1,   1,   sizeof(KSPROPERTY_TUNER_FREQUENCY_S), sizeof(KSPROPERTY_TUNER_FREQUENCY_S)},
    {KSPROPERTY_TUNER_INPUT,        1,   1,   sizeof(KSPROPERTY_TUNER_INPUT_S),     sizeof(KSPROPERTY_TUNER_INPUT_S)},
    {KSPROPERTY_TUNER_STATUS,       1,   0,   sizeof(KSPROPERTY_TUNER_STATUS_S),    sizeof(KSPROPERTY_TUNER_STATUS_S)},
};

}  // namespace

void TunerDevice::BuildPropertyTable()
{
    for (uint32_t index = 0; index < TunerPropertyCount; ++index) {
        const PropertyItemRow& row = PropertyItemRows[index];
        KSPROPERTY_ITEM& item = PropertyItems[index];
        // The get and set members are handler pointers in user-mode KS; a
        // minidriver stores a one-byte flag, and the pointer's other bytes
        // must not hold anything.
        __builtin_memset(static_cast<void*>(&item), 0, sizeof(item));
        item.PropertyId = row.PropertyId;
        item.GetSupported = row.GetSupported;
        item.MinProperty = row.RecordSize;
        item.MinData = row.RecordSize;
        item.SetSupported = row.SetSupported;
        item.SerializedSize = row.SerializedSize;
    }

    __builtin_memset(static_cast<void*>(&PropertySet), 0, sizeof(PropertySet));
    PropertySet.Set = &PROPSETID_TUNER;
    PropertySet.PropertiesCount = TunerPropertyCount;
    PropertySet.PropertyItem = PropertyItems;
}

void TunerDevice::BuildTopology()
{
    CategoryGuid = KSCATEGORY_TVTUNER;

    __builtin_memset(static_cast<void*>(&FilterTopology), 0, sizeof(FilterTopology));
    FilterTopology.CategoriesCount = 1;
    FilterTopology.Categories = &CategoryGuid;
}

void TunerDevice::GetStreamInfo(HW_STREAM_REQUEST_BLOCK* srb)
{
    StreamHeader.NumberOfStreams = 0;
    StreamHeader.SizeOfHwStreamInformation = sizeof(HW_STREAM_INFORMATION);
    StreamHeader.NumDevPropArrayEntries = 1;
    StreamHeader.DevicePropertiesArray = &PropertySet;
    StreamHeader.NumDevEventArrayEntries = 0;
    StreamHeader.DeviceEventsArray = nullptr;
    StreamHeader.Topology = &FilterTopology;

    // The start announced a descriptor of the header alone; nothing may be
    // written behind it.
    __builtin_memcpy(&srb->CommandData.StreamBuffer->StreamHeader, &StreamHeader, sizeof(StreamHeader));
    srb->Status = STATUS_SUCCESS;
}
