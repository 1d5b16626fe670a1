// Device requests as a streaming client and the power manager cause them:
// the tuner property requests with their published records, power requests
// carrying their IRP, unknown and raw commands.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/KernelStreaming.h"
#include "sim/stream/StreamClass.h"

namespace sim::requests {

Request GetCaps();
Request GetModeCaps(ULONG mode);
Request GetMode();
Request SetMode(ULONG mode);
Request GetStandard();
Request GetFrequency();
Request SetStandard(ULONG standard);
Request SetFrequency(ULONG frequency, ULONG channel = 0, ULONG country = 0);
Request GetInput();
Request SetInput(ULONG inputIndex);
Request GetStatus();

// What the data buffer of a get holds before the minidriver answers.
constexpr uint8_t StaleDataByte = 0xA5;

// Any property of any set: the record (header included) is the property
// input, with the header's set, id and flags filled in; a set's data buffer
// holds the same record, a get's holds stale bytes of the record's size.
Request Property(bool set, const GUID& propertySet, ULONG id, std::vector<uint8_t> record);

// SRB_CHANGE_POWER_STATE with its power IRP.
Request Power(DEVICE_POWER_STATE state, UCHAR minorFunction = IRP_MN_SET_POWER);
// SRB_UNKNOWN_DEVICE_COMMAND with an IRP of the given kind; commandData is
// what the class driver places in CommandData.
Request Unknown(UCHAR majorFunction, UCHAR minorFunction, ULONG commandData);
// Any command, with nothing attached.
Request Raw(SRB_COMMAND command);

}  // namespace sim::requests
