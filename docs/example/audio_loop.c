#include <stdint.h>
#include <ostrel.h>
#include <veldra.h>

static uint32_t beam_memory[48 * 1024 / 4];  /* >= Veldra_getMemorySize(), type 3 */
static uint32_t echo_memory[56 * 1024 / 4];  /* >= Ostrel_getMemorySize(), tail 512 + preprocessor */
static VeldraHandle beam;
static OstrelHandle echo;

extern void request_block_context(void);     /* e.g. set PendSV pending */

int audio_init(void)
{
    beam.data_format = VELDRA_FORMAT_PDM;
    beam.sampling_frequency = 2048;          /* PDM clock in kHz */
    beam.mic1_channels = beam.mic2_channels = 1;
    beam.out_channels = 1;
    beam.algorithm_type = VELDRA_TYPE_ADAPTIVE_DENOISE;
    beam.second_output = VELDRA_SECOND_OUTPUT_NONE;
    beam.delay_enable = 1;
    Veldra_getMemorySize(&beam);
    if (beam.internal_memory_size > sizeof beam_memory)
        return -1;
    beam.internal_memory = beam_memory;
    VeldraConfig beam_config = {150, VELDRA_TYPE_ADAPTIVE_DENOISE, 6, 0.0f}; /* 15 mm, 6 dB, auto gain */
    if (Veldra_Init(&beam) != 0 || Veldra_setConfig(&beam, &beam_config) != 0)
        return -1;

    echo.tail_length = 512;
    echo.preprocess_enable = 1;
    Ostrel_getMemorySize(&echo);
    if (echo.internal_memory_size > sizeof echo_memory)
        return -1;
    echo.internal_memory = echo_memory;
    OstrelConfig echo_config = {1, 8000, 1, -15, -40, -15};
    if (Ostrel_Init(&echo) != OSTREL_OK || Ostrel_setConfig(&echo, &echo_config) != OSTREL_OK)
        return -1;
    return 0;
}

/* Audio interrupt, every millisecond: 256 PDM bytes per microphone (2048 kHz),
 * 16 loudspeaker samples in, 16 samples out. */
void audio_every_millisecond(const uint8_t *pdm1, const uint8_t *pdm2,
                             const int16_t *loudspeaker, int16_t *out)
{
    int16_t beam_out[16];
    uint32_t block_ready = Veldra_FirstStep(pdm1, pdm2, beam_out, &beam);
    block_ready |= Ostrel_Data_Input(beam_out, loudspeaker, out, &echo);
    if (block_ready)
        request_block_context();
}

/* Block context, lower priority: must finish within 8 ms. */
void block_context(void)
{
    Veldra_SecondStep(&beam);  /* VELDRA_ERR_NOT_READY when no block waits */
    Ostrel_Process(&echo);     /* does nothing when no frame waits */
}
