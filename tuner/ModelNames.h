// The names of the tuner module models as the configuration spells them,
// indexed by the model.
#pragma once

#include "platform/Types.h"
#include "tuner/TunerDevice.h"

extern const WCHAR* const TunerModelNames[TunerModelCount];
