#include "run_options.h"

#include "command_line.h"

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
    cli::CommandLine line;
    line.file("--mic", options.mic_path);
    line.file("--ref", options.ref_path);
    line.file("--out", options.out_path);
    line.flag("--field", [&] {
        options.field_align = options.field_nonlinear = true;
        options.field_residual = options.field_recovery = true;
    });
    line.flag("--field-align", options.field_align);
    line.flag("--field-nonlinear", options.field_nonlinear);
    line.flag("--field-residual", options.field_residual);
    line.flag("--field-recovery", options.field_recovery);
    line.number("--field-strength", cli::whole("a residual-echo over-estimation in dB", -10, 20),
                [&](double v) { options.field_strength_db = static_cast<int32_t>(v); });
    line.number("--tail", cli::whole("an echo tail in samples", 1, 65535),
                [&](double v) { options.tail_length = static_cast<uint16_t>(v); });
    // The suppressor stage runs when any of its options is given.
    line.flag("--denoise", [&] { options.preprocessor = options.denoise = true; });
    line.flag("--residual-echo", [&] { options.preprocessor = options.residual_echo = true; });
    line.number("--agc", cli::whole("a gain-control target level", 1, 32767), [&](double v) {
        options.agc_level = static_cast<uint32_t>(v);
        options.preprocessor = true;
    });
    const cli::Range attenuation = cli::whole("an attenuation in dB", -120, 0);
    line.number("--noise-db", attenuation, [&](double v) {
        options.noise_db = static_cast<int32_t>(v);
        options.preprocessor = options.denoise = true;
    });
    line.number("--echo-db", attenuation, [&](double v) {
        options.echo_db = static_cast<int32_t>(v);
        options.preprocessor = true;
    });
    line.number("--echo-active-db", attenuation, [&](double v) {
        options.echo_active_db = static_cast<int32_t>(v);
        options.preprocessor = true;
    });
    const std::string error = line.parse(argc, argv);
    options.help = line.help();
    if (!error.empty() || options.help)
        return error;
    if (options.field_residual)
        options.preprocessor = options.residual_echo = true;
    if (options.mic_path.empty())
        return "--mic is required";
    if (options.ref_path.empty())
        return "--ref is required";
    if (options.out_path.empty())
        return "--out is required";
    return {};
}
