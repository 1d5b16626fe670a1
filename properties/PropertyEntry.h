// The checks every tuner property request passes before its handler looks
// at the property Id.
#pragma once

#include "platform/KernelStreaming.h"
#include "platform/StreamClass.h"
#include "platform/Types.h"

struct TunerPropertyRequest {
    const KSPROPERTY* Property;  // the KSPROPERTY and the input behind it
    void* Data;                 // the whole property record
};

// Fills the request's parts and returns true when the SRB carries a property
// descriptor with both its pointers and the tuner property set.
inline bool OpenTunerPropertyRequest(HW_STREAM_REQUEST_BLOCK* srb, TunerPropertyRequest* request)
{
    const STREAM_PROPERTY_DESCRIPTOR* descriptor = srb->CommandData.PropertyInfo;
    if (descriptor == nullptr || descriptor->PropertyInfo == nullptr || descriptor->Property == nullptr) {
        return false;
    }
    if (!IsEqualGuid(descriptor->Property->Set, PROPSETID_TUNER)) {
        return false;
    }
    request->Property = descriptor->Property;
    request->Data = descriptor->PropertyInfo;
    return true;
}

// Hands a finished record to the caller whole, so that no byte of the data
// buffer keeps what it held before (on the real system it can be
// uninitialised pool).
template <typename Record>
inline void AnswerWith(const TunerPropertyRequest& request, const Record& record)
{
    __builtin_memcpy(request.Data, &record, sizeof(record));
}
