// Version text of the library.
#include "veldra.h"

#include <string.h>

static const char kVersionText[] = "ZQ Veldra v2.0.0";

extern "C" uint32_t Veldra_GetLibVersion(char *buffer)
{
    memcpy(buffer, kVersionText, sizeof kVersionText);
    return (uint32_t)(sizeof kVersionText - 1u);
}

extern "C" uint32_t libBeamforming_GetLibVersion(char *buffer)
{
    return Veldra_GetLibVersion(buffer);
}
