// Dispatcher headers of events and timers: type byte, size byte (in 32-bit
// words) and the signal state, kept in the caller's object.
#pragma once

#include "platform/Kernel.h"

namespace sim::detail {

constexpr UCHAR kEventNotification = 0;
constexpr UCHAR kEventSynchronization = 1;
constexpr UCHAR kTimerNotification = 8;
constexpr UCHAR kTimerSynchronization = 9;
constexpr UCHAR kEventSize = sizeof(KEVENT) / 4;
constexpr UCHAR kTimerSize = sizeof(KTIMER) / 4;

UCHAR ObjectType(const void* object);
LONG& SignalState(void* object);
void InitializeHeader(void* object, UCHAR type, UCHAR sizeInLongs, LONG signalState);
bool IsEvent(const void* object);
bool IsTimer(const void* object);

}  // namespace sim::detail
