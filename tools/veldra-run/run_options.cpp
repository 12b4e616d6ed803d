// Command-line parsing of veldra-run: every value is checked for form and
// range before the library sees it.
#include "run_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

const char* run_usage()
{
    return "usage:\n"
           "  veldra-run --pdm FILE --clock KHZ [settings] --out OUT.wav\n"
           "  veldra-run --pcm IN.wav [--delay-line] [settings] --out OUT.wav\n"
           "settings:\n"
           "  --distance D        microphone spacing in 0.1 mm (default 150; 212 with "
           "--delay-line)\n"
           "  --type T            0 cardioid, 1 cardioid + denoiser, 2 adaptive,\n"
           "                      3 adaptive + denoiser (default 0)\n"
           "  --volume V          decimation gain in dB, 0..51 (default 0)\n"
           "  --mic2-gain G       linear gain of microphone 2, 0 = automatic (default 1)\n"
           "  --second-output S   channel 1: 0 nothing, 1 microphone 1, 7 rear beam (default 0)\n"
           "field mode (instead of the default processing):\n"
           "  --field             every field stage below\n"
           "  --field-decimation  high-order comb with compensating FIR (PDM input)\n"
           "  --field-null        protected adaptive null (types 2 and 3)\n"
           "  --field-postfilter  interference post-filter from the rear beam\n"
           "  --field-calibration microphone 2 gain estimate (with --mic2-gain 0) and\n"
           "                      flat on-axis equaliser\n"
           "FILE holds both microphones' PDM bytes interleaved byte by byte, microphone 1\n"
           "first, most significant bit earliest. IN.wav is 16 kHz 16-bit stereo, channel 0\n"
           "microphone 1. OUT.wav is 16 kHz 16-bit stereo: the beam, then the second output.\n";
}

static bool parse_unsigned(const std::string& text, unsigned long max, unsigned long& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

static bool parse_float(const std::string& text, float& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtof(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool parse_run_options(int argc, char** argv, RunOptions& o, std::string& error, bool& help)
{
    help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            help = true;
            return true;
        }
        if (name == "--delay-line") {
            o.delay_line = true;
            continue;
        }
        bool* field_flag = name == "--field"               ? &o.field
                           : name == "--field-decimation"  ? &o.field_decimation
                           : name == "--field-null"        ? &o.field_null
                           : name == "--field-postfilter"  ? &o.field_postfilter
                           : name == "--field-calibration" ? &o.field_calibration
                                                           : nullptr;
        if (field_flag) {
            *field_flag = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        unsigned long number = 0;
        if (name == "--pdm") {
            o.pdm_path = value;
        } else if (name == "--pcm") {
            o.pcm_path = value;
        } else if (name == "--out") {
            o.out_path = value;
        } else if (name == "--clock") {
            if (!parse_unsigned(value, 100000, number)) {
                error = "--clock wants a PDM clock in kHz, got '" + value + "'";
                return false;
            }
            o.clock_khz = (uint32_t)number;
        } else if (name == "--distance") {
            if (!parse_unsigned(value, 65535, number)) {
                error = "--distance wants a spacing in 0.1 mm, got '" + value + "'";
                return false;
            }
            o.distance = (uint16_t)number;
            o.distance_given = true;
        } else if (name == "--type") {
            if (!parse_unsigned(value, 3, number)) {
                error = "--type wants 0, 1, 2 or 3, got '" + value + "'";
                return false;
            }
            o.type = (uint8_t)number;
        } else if (name == "--volume") {
            if (!parse_unsigned(value, 51, number)) {
                error = "--volume wants a gain of 0..51 dB, got '" + value + "'";
                return false;
            }
            o.volume = (uint8_t)number;
        } else if (name == "--mic2-gain") {
            if (!parse_float(value, o.mic2_gain)) {
                error = "--mic2-gain wants a number, got '" + value + "'";
                return false;
            }
        } else if (name == "--second-output") {
            if (!parse_unsigned(value, 7, number) || (number != 0 && number != 1 && number != 7)) {
                error = "--second-output wants 0, 1 or 7, got '" + value + "'";
                return false;
            }
            o.second_output = (uint32_t)number;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (o.pdm_path.empty() == o.pcm_path.empty()) {
        error = "give exactly one of --pdm FILE and --pcm IN.wav";
        return false;
    }
    if (o.out_path.empty()) {
        error = "--out OUT.wav is required";
        return false;
    }
    if (!o.pdm_path.empty() && o.clock_khz == 0) {
        error = "--pdm needs --clock KHZ";
        return false;
    }
    // 16 kHz is the PCM rate: the library would accept it and decimate nothing.
    if (!o.pdm_path.empty() && o.clock_khz == 16) {
        error =
            "--clock 16 is the PCM rate, not a PDM clock (256, 384, 512, 768, 1024, 1280, 2048)";
        return false;
    }
    if (!o.pdm_path.empty() && o.delay_line) {
        error = "--delay-line applies to --pcm input only (PDM input always uses it)";
        return false;
    }
    if (!o.pcm_path.empty() && o.clock_khz != 0) {
        error = "--clock applies to --pdm input only";
        return false;
    }
    if (o.delay_line && !o.distance_given)
        o.distance = 212;
    return true;
}
