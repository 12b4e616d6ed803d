// The Ostrel_ names of the interface: each forwards to its working function
// libEchoCancel_*, which is exported as well and behaves identically.
#include "ostrel.h"

extern "C" {

uint32_t Ostrel_getMemorySize(OstrelHandle *handle)
{
    return libEchoCancel_getMemorySize(handle);
}

uint32_t Ostrel_Init(OstrelHandle *handle)
{
    return libEchoCancel_Init(handle);
}

uint32_t Ostrel_setConfig(OstrelHandle *handle, const OstrelConfig *config)
{
    return libEchoCancel_setConfig(handle, config);
}

uint32_t Ostrel_getConfig(OstrelHandle *handle, OstrelConfig *config)
{
    return libEchoCancel_getConfig(handle, config);
}

uint32_t Ostrel_Data_Input(const int16_t *mic, const int16_t *ref, int16_t *out,
                           OstrelHandle *handle)
{
    return libEchoCancel_Data_Input(mic, ref, out, handle);
}

uint32_t Ostrel_Process(OstrelHandle *handle)
{
    return libEchoCancel_Process(handle);
}

} // extern "C"
