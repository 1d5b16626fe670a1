#include "tests/support/PropertyRequest.h"

#include <cstdlib>

#include "platform/Status.h"

namespace test {

PropertyRequest::PropertyRequest(SRB_COMMAND command, ULONG id, const void* input, size_t size) : size_(size)
{
    if (size < sizeof(KSPROPERTY) || size > sizeof(input_)) std::abort();
    std::memset(input_, 0, sizeof(input_));
    std::memcpy(input_, input, size);
    Property().Set = PROPSETID_TUNER;
    Property().Id = id;
    Property().Flags = command == SRB_SET_DEVICE_PROPERTY ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;

    if (command == SRB_SET_DEVICE_PROPERTY) {
        std::memcpy(data_, input_, sizeof(data_));
    } else {
        std::memset(data_, StaleDataByte, sizeof(data_));
    }

    std::memset(&srb_, 0, sizeof(srb_));
    srb_.SizeOfThisPacket = sizeof(srb_);
    srb_.Command = command;
    srb_.Status = STATUS_PENDING;
    srb_.ActualBytesTransferred = UnwrittenByteCount;

    std::memset(&descriptor_, 0, sizeof(descriptor_));
    descriptor_.PropertySetID = 0;
    descriptor_.PropertyInputSize = static_cast<ULONG>(size);
    descriptor_.PropertyOutputSize = static_cast<ULONG>(size);
    descriptor_.Property = reinterpret_cast<KSPROPERTY*>(input_);
    descriptor_.PropertyInfo = data_;
    srb_.CommandData.PropertyInfo = &descriptor_;
}

NTSTATUS PropertyRequest::Send(TunerDevice& tuner, DeviceExtension* extension)
{
    if (extension == nullptr) {
        if (!extension_) {
            // Value-initialised: the class driver hands the extension over zero-filled.
            extension_ = std::make_unique<DeviceExtension>();
        }
        extension = extension_.get();
    }
    srb_.HwDeviceExtension = extension;
    const bool ok = srb_.Command == SRB_SET_DEVICE_PROPERTY ? tuner.SetTunerProperty(&srb_)
                                                            : tuner.GetTunerProperty(&srb_);
    srb_.Status = ok ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    return srb_.Status;
}

}  // namespace test
