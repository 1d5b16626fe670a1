// Compiles every platform declaration in the driver library, so that the
// published-layout assertions hold in the host and in the Windows build.
#include "i2c/BridgeInterface.h"
#include "platform/Hal.h"
#include "platform/Kernel.h"
#include "platform/KernelStreaming.h"
#include "platform/StreamClass.h"
#include "platform/Status.h"
#include "platform/Types.h"
