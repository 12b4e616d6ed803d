// Version query of the echo-cancellation library.
#include "ostrel.h"

#include <string.h>

namespace
{
const char kVersionText[] = "ZQ Ostrel v2.0.0";
}

extern "C" uint32_t Ostrel_GetLibVersion(char *buffer)
{
    memcpy(buffer, kVersionText, sizeof kVersionText);
    return static_cast<uint32_t>(sizeof kVersionText - 1);
}
