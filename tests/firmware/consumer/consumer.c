/* Links both installed libraries from C and runs one block through each. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <ostrel.h>
#include <veldra.h>

static uint32_t veldra_block[48 * 1024 / 4];
static uint32_t ostrel_block[64 * 1024 / 4];

static int run_veldra(void)
{
    VeldraHandle handle;
    memset(&handle, 0, sizeof handle);
    handle.data_format = VELDRA_FORMAT_PCM;
    handle.sampling_frequency = 16;
    handle.mic1_channels = handle.mic2_channels = handle.out_channels = 1;
    handle.algorithm_type = VELDRA_TYPE_ADAPTIVE_DENOISE;
    handle.delay_enable = 1;
    Veldra_getMemorySize(&handle);
    if (handle.internal_memory_size > sizeof veldra_block)
        return 1;
    handle.internal_memory = veldra_block;
    VeldraConfig config = {212, VELDRA_TYPE_ADAPTIVE_DENOISE, 0, 1.0f};
    if (Veldra_Init(&handle) != 0 || Veldra_setConfig(&handle, &config) != 0)
        return 1;
    int16_t mic1[16] = {0}, mic2[16] = {0}, out[16];
    int blocks = 0;
    for (int ms = 0; ms < 16; ++ms)
        if (Veldra_FirstStep(mic1, mic2, out, &handle) == 1)
            blocks += Veldra_SecondStep(&handle) == 0;
    return blocks == 2 ? 0 : 1;
}

static int run_ostrel(void)
{
    OstrelHandle handle;
    memset(&handle, 0, sizeof handle);
    handle.preprocess_enable = 1;
    Ostrel_getMemorySize(&handle);
    if (handle.internal_memory_size > sizeof ostrel_block)
        return 1;
    handle.internal_memory = ostrel_block;
    if (Ostrel_Init(&handle) != OSTREL_OK)
        return 1;
    int16_t mic[16] = {0}, ref[16] = {0}, out[16];
    int frames = 0;
    for (int ms = 0; ms < 16; ++ms)
        if (Ostrel_Data_Input(mic, ref, out, &handle) == 1)
            frames += Ostrel_Process(&handle) == OSTREL_OK;
    return frames == 2 ? 0 : 1;
}

int main(void)
{
    char veldra_version[32], ostrel_version[32];
    Veldra_GetLibVersion(veldra_version);
    Ostrel_GetLibVersion(ostrel_version);
    int failed = run_veldra() | run_ostrel();
    printf("%s, %s: %s\n", veldra_version, ostrel_version, failed ? "FAILED" : "ok");
    return failed;
}
