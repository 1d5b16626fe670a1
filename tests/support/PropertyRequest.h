// Property requests as the class driver hands them to the adapter: an SRB
// whose property descriptor points at the client's KSPROPERTY (with the
// input behind it) and at a separate data buffer. Gets start from a data
// buffer full of stale bytes, as pool memory would be; sets carry the
// client's record. The status is the one the request queue would store.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "driver/DeviceExtension.h"
#include "platform/KernelStreaming.h"
#include "platform/StreamClass.h"

namespace test {

// What a get finds in the data buffer before the driver answers.
constexpr uint8_t StaleDataByte = 0xA5;
// What ActualBytesTransferred holds until the driver writes it.
constexpr ULONG UnwrittenByteCount = 0xDEADBEEF;

class PropertyRequest {
public:
    // input: the client's record, KSPROPERTY first; its Set, Id and Flags are
    // filled here (PROPSETID_TUNER, id, get or set by command).
    PropertyRequest(SRB_COMMAND command, ULONG id, const void* input, size_t size);

    template <typename Record>
    static PropertyRequest Get(ULONG id, const Record& input = {})
    {
        return PropertyRequest(SRB_GET_DEVICE_PROPERTY, id, &input, sizeof(Record));
    }
    template <typename Record>
    static PropertyRequest Set(ULONG id, const Record& record)
    {
        return PropertyRequest(SRB_SET_DEVICE_PROPERTY, id, &record, sizeof(Record));
    }

    // The descriptor and the SRB point into the object itself.
    PropertyRequest(const PropertyRequest&) = delete;
    PropertyRequest& operator=(const PropertyRequest&) = delete;

    // Parts a test may break before sending.
    KSPROPERTY& Property() { return *reinterpret_cast<KSPROPERTY*>(input_); }
    STREAM_PROPERTY_DESCRIPTOR& Descriptor() { return descriptor_; }
    HW_STREAM_REQUEST_BLOCK& Srb() { return srb_; }

    // Runs the handler of the SRB's command on the tuner, as the request
    // queue does. The SRB's HwDeviceExtension is the given extension, or a
    // zero-filled one of the request's own.
    NTSTATUS Send(TunerDevice& tuner, DeviceExtension* extension = nullptr);

    NTSTATUS Status() const { return srb_.Status; }
    ULONG BytesTransferred() const { return srb_.ActualBytesTransferred; }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

    template <typename Record>
    Record Answer() const
    {
        Record record;
        std::memcpy(&record, data_, sizeof(Record));
        return record;
    }

private:
    size_t size_;
    alignas(8) uint8_t input_[128];
    alignas(8) uint8_t data_[128];
    STREAM_PROPERTY_DESCRIPTOR descriptor_;
    HW_STREAM_REQUEST_BLOCK srb_;
    std::unique_ptr<DeviceExtension> extension_;
};

// One request sent, with what came back.
template <typename Record>
struct PropertyReply {
    NTSTATUS Status;
    ULONG BytesTransferred;
    Record Data;
};

template <typename Record>
PropertyReply<Record> GetProperty(TunerDevice& tuner, ULONG id, const Record& input = {})
{
    PropertyRequest request = PropertyRequest::Get(id, input);
    request.Send(tuner);
    return {request.Status(), request.BytesTransferred(), request.Answer<Record>()};
}

template <typename Record>
PropertyReply<Record> SetProperty(TunerDevice& tuner, ULONG id, const Record& record)
{
    PropertyRequest request = PropertyRequest::Set(id, record);
    request.Send(tuner);
    return {request.Status(), request.BytesTransferred(), request.Answer<Record>()};
}

}  // namespace test
