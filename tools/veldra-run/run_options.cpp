// Command-line parsing of veldra-run: every value is checked for form and
// range before the library sees it.
#include "run_options.h"

#include <cmath>

#include "command_line.h"

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

bool parse_run_options(int argc, char** argv, RunOptions& o, std::string& error, bool& help)
{
    cli::CommandLine line;
    line.text("--pdm", o.pdm_path);
    line.text("--pcm", o.pcm_path);
    line.text("--out", o.out_path);
    line.flag("--delay-line", o.delay_line);
    line.flag("--field", o.field);
    line.flag("--field-decimation", o.field_decimation);
    line.flag("--field-null", o.field_null);
    line.flag("--field-postfilter", o.field_postfilter);
    line.flag("--field-calibration", o.field_calibration);
    line.number("--clock", cli::whole("a PDM clock in kHz", 0, 100000),
                [&](double v) { o.clock_khz = static_cast<uint32_t>(v); });
    line.number("--distance", cli::whole("a spacing in 0.1 mm", 0, 65535), [&](double v) {
        o.distance = static_cast<uint16_t>(v);
        o.distance_given = true;
    });
    line.number("--type", cli::choice("an algorithm type", {0, 1, 2, 3}),
                [&](double v) { o.type = static_cast<uint8_t>(v); });
    line.number("--volume", cli::whole("a gain in dB", 0, 51),
                [&](double v) { o.volume = static_cast<uint8_t>(v); });
    line.number("--mic2-gain", cli::real("a gain", -INFINITY, INFINITY), o.mic2_gain);
    line.number("--second-output", cli::choice("a second output", {0, 1, 7}),
                [&](double v) { o.second_output = static_cast<uint32_t>(v); });
    error = line.parse(argc, argv);
    help = line.help();
    if (!error.empty())
        return false;
    if (help)
        return true;
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
