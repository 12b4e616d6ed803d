#include "run_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace
{

// Whole decimal integer within [lo, hi]; nothing else on the argument.
bool parse_integer(const char* text, long lo, long hi, long& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < lo || parsed > hi)
        return false;
    value = parsed;
    return true;
}

struct IntegerOption {
    const char* name;
    long lo;
    long hi;
    const char* meaning;
};

const IntegerOption kTail = {"--tail", 1, 65535, "an echo tail of 1 to 65535 samples"};
const IntegerOption kAgc = {"--agc", 1, 32767, "a gain-control target level of 1 to 32767"};
const IntegerOption kNoiseDb = {"--noise-db", -120, 0, "an attenuation in dB from -120 to 0"};
const IntegerOption kEchoDb = {"--echo-db", -120, 0, "an attenuation in dB from -120 to 0"};
const IntegerOption kFieldStrength = {"--field-strength", -10, 20,
                                      "a residual-echo over-estimation in dB from -10 to 20"};
const IntegerOption kEchoActiveDb = {"--echo-active-db", -120, 0,
                                     "an attenuation in dB from -120 to 0"};

std::string bad_value(const IntegerOption& option, const char* text)
{
    return std::string(option.name) + ": '" + (text ? text : "") + "' is not " + option.meaning;
}

} // namespace

const char* run_usage()
{
    return "usage: ostrel-run --mic MIC.wav --ref REF.wav --out OUT.wav [--tail N] [--denoise]\n"
           "                  [--agc LEVEL] [--residual-echo] [--noise-db V] [--echo-db V]\n"
           "                  [--echo-active-db V] [--field] [--field-align] [--field-nonlinear]\n"
           "                  [--field-residual] [--field-recovery] [--field-strength DB]\n"
           "Runs the echo canceller on 16 kHz mono 16-bit WAV files: MIC is the microphone,\n"
           "REF the loudspeaker signal; OUT receives the processed microphone signal, time-\n"
           "aligned with MIC. --tail sets the echo tail in samples (default 512).\n"
           "Suppressor stage (runs when any of these is given):\n"
           "  --denoise          noise suppression, down to --noise-db (default -15; giving\n"
           "                     --noise-db implies --denoise); without it noise is kept\n"
           "  --residual-echo    residual-echo suppression, down to --echo-db (default -40)\n"
           "                     and --echo-active-db during near-end speech (default -15);\n"
           "                     works with or without --denoise\n"
           "  --agc LEVEL        gain control to the target level 1..32767\n"
           "  attenuations are in dB, -120..0.\n"
           "Field mode (stages on their own, or all with --field):\n"
           "  --field-align      bulk-delay estimation (0..300 ms) and clock-drift tracking\n"
           "  --field-nonlinear  loudspeaker saturation model before the linear filter\n"
           "  --field-residual   residual-echo estimate that also sees unmodelled echo\n"
           "                     (late reverberation, nonlinear residue); implies\n"
           "                     --residual-echo\n"
           "  --field-recovery   fast re-adaptation after an echo-path change\n"
           "  --field-strength DB  over-estimation of the field residual echo, -10..20\n"
           "                     (default 0); more suppresses more echo and more near end\n"
           "Prints the echo return loss enhancement (microphone over output power) per\n"
           "second over the 128-sample frames whose far end is above -50 dBFS, and the\n"
           "processing time per frame.\n";
}

std::string parse_run_options(int argc, char** argv, RunOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        auto take_integer = [&](const IntegerOption& option) -> std::string {
            if (value == nullptr)
                return std::string(option.name) + " needs a value";
            ++i;
            if (!parse_integer(value, option.lo, option.hi, number))
                return bad_value(option, value);
            return {};
        };
        auto take_path = [&](std::string& path) -> std::string {
            if (value == nullptr || *value == '\0')
                return std::string(arg) + " needs a file name";
            ++i;
            path = value;
            return {};
        };
        std::string error;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--mic") == 0) {
            error = take_path(options.mic_path);
        } else if (std::strcmp(arg, "--ref") == 0) {
            error = take_path(options.ref_path);
        } else if (std::strcmp(arg, "--out") == 0) {
            error = take_path(options.out_path);
        } else if (std::strcmp(arg, "--denoise") == 0) {
            options.denoise = true;
        } else if (std::strcmp(arg, "--residual-echo") == 0) {
            options.residual_echo = true;
        } else if (std::strcmp(arg, "--field") == 0) {
            options.field_align = options.field_nonlinear = true;
            options.field_residual = options.field_recovery = true;
        } else if (std::strcmp(arg, "--field-align") == 0) {
            options.field_align = true;
        } else if (std::strcmp(arg, "--field-nonlinear") == 0) {
            options.field_nonlinear = true;
        } else if (std::strcmp(arg, "--field-residual") == 0) {
            options.field_residual = true;
        } else if (std::strcmp(arg, "--field-recovery") == 0) {
            options.field_recovery = true;
        } else if (std::strcmp(arg, "--field-strength") == 0) {
            if ((error = take_integer(kFieldStrength)).empty())
                options.field_strength_db = static_cast<int32_t>(number);
        } else if (std::strcmp(arg, "--tail") == 0) {
            if ((error = take_integer(kTail)).empty())
                options.tail_length = static_cast<uint16_t>(number);
        } else if (std::strcmp(arg, "--agc") == 0) {
            if ((error = take_integer(kAgc)).empty())
                options.agc_level = static_cast<uint32_t>(number);
        } else if (std::strcmp(arg, "--noise-db") == 0) {
            if ((error = take_integer(kNoiseDb)).empty()) {
                options.noise_db = static_cast<int32_t>(number);
                options.denoise = true;
            }
        } else if (std::strcmp(arg, "--echo-db") == 0) {
            if ((error = take_integer(kEchoDb)).empty())
                options.echo_db = static_cast<int32_t>(number);
        } else if (std::strcmp(arg, "--echo-active-db") == 0) {
            if ((error = take_integer(kEchoActiveDb)).empty())
                options.echo_active_db = static_cast<int32_t>(number);
        } else {
            error = std::string("unknown argument '") + arg + "'";
        }
        if (!error.empty())
            return error;
        const bool suppressor_option =
            std::strcmp(arg, "--denoise") == 0 || std::strcmp(arg, "--agc") == 0 ||
            std::strcmp(arg, "--residual-echo") == 0 || std::strcmp(arg, "--noise-db") == 0 ||
            std::strcmp(arg, "--echo-db") == 0 || std::strcmp(arg, "--echo-active-db") == 0;
        if (suppressor_option)
            options.preprocessor = true;
    }
    if (options.field_residual)
        options.preprocessor = options.residual_echo = true;
    if (options.help)
        return {};
    if (options.mic_path.empty())
        return "--mic is required";
    if (options.ref_path.empty())
        return "--ref is required";
    if (options.out_path.empty())
        return "--out is required";
    return {};
}
