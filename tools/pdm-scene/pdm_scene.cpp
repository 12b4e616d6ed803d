// pdm-scene: simulates a two-microphone array in a free field and writes the
// two microphones' PDM streams interleaved byte by byte (first microphone
// first, most significant bit earliest), the input of `veldra-run --pdm`.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "output_files.h"
#include "scene.h"
#include "wav_file.h"

namespace
{

const char kUsage[] =
    "usage: pdm-scene --clock KHZ --out FILE.pdm [options] SOURCES...\n"
    "\n"
    "Simulates two microphones SPACING apart on one axis (the first one in\n"
    "front), plane waves from the given azimuths (0 = front, 180 = behind),\n"
    "each microphone a second-order (or fourth-order) sigma-delta modulator\n"
    "at the PDM clock.\n"
    "Writes the PDM bytes interleaved byte by byte, first microphone first,\n"
    "most significant bit earliest. Full scale (0 dB) is a PDM density of 1.\n"
    "\n"
    "options:\n"
    "  --clock KHZ              PDM clock: 256, 384, 512, 768, 1024, 1280, 2048\n"
    "  --out FILE               PDM output file\n"
    "  --spacing MM             microphone spacing in millimetres (default 15)\n"
    "  --duration S             length in seconds, whole milliseconds (default 1)\n"
    "  --mic-noise DB           self-noise of each microphone, RMS dB full scale\n"
    "  --seed N                 seed of noise, dither and self-noise (default 7)\n"
    "  --pcm-out FILE.wav       also write the ideal 16 kHz 16-bit stereo signals\n"
    "  --modulator-order N      sigma-delta order of the microphones: 2 (default) or 4\n"
    "  --mic2-sensitivity DB    second microphone's sensitivity against the first,\n"
    "                           -20..20 dB (default 0)\n"
    "  -h, --help               this text\n"
    "sources (any number, at least one):\n"
    "  --tone FREQ@ANGLE[:DB]   sine of FREQ Hz, peak level DB (default -20)\n"
    "  --noise ANGLE[:DB]       white noise below 7.2 kHz, RMS level DB (default -30)\n"
    "  --speechlike ANGLE[:DB]  synthetic speech-like signal, gain DB (default 0,\n"
    "                           voiced parts about -20 dB RMS)\n"
    "  --speech FILE@ANGLE[:DB] a sound file (mixed to mono, resampled to\n"
    "                           16 kHz), gain DB (default 0)\n"
    "  --diffuse-noise DB[:N]   N uncorrelated noises (default 24) from directions\n"
    "                           of uniform cosine, total RMS level DB\n"
    "An ANGLE may be START..END (degrees, 0..180): the source moves from START to\n"
    "END at constant angular speed over the scene.\n"
    "Levels and gains are at most 60 dB. --speech reads only the part of the\n"
    "file that the duration needs, and only from a regular file. An output that\n"
    "is one of the inputs is refused; outputs appear only when all are written.\n";

bool parseNumber(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

// "A" or "A..B": a fixed or a moving direction (end -1 when fixed).
bool parseAngle(const std::string& text, double& angle, double& end)
{
    const size_t dots = text.find("..");
    end = -1.0;
    if (dots == std::string::npos)
        return parseNumber(text, angle);
    return parseNumber(text.substr(0, dots), angle) && parseNumber(text.substr(dots + 2), end) &&
           angle >= 0.0 && angle <= 180.0 && end >= 0.0 && end <= 180.0;
}

// Splits "HEAD@ANGLE[:DB]" at the last '@'; the level part is optional.
bool parseDirected(const std::string& text, std::string& head, double& angle, double& level,
                   bool need_head, double* end = nullptr)
{
    std::string rest = text;
    if (need_head) {
        const size_t at = text.rfind('@');
        if (at == std::string::npos || at == 0)
            return false;
        head = text.substr(0, at);
        rest = text.substr(at + 1);
    }
    const size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        if (!parseNumber(rest.substr(colon + 1), level))
            return false;
        rest = rest.substr(0, colon);
    }
    double moving_end = -1.0;
    if (!parseAngle(rest, angle, moving_end))
        return false;
    if (end)
        *end = moving_end;
    return end != nullptr || moving_end < 0.0;
}

bool writeFile(const std::string& path, const void* data, size_t bytes, std::string& error)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const size_t written = std::fwrite(data, 1, bytes, f);
    const bool closed = std::fclose(f) == 0;
    if (written != bytes || !closed) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// The --speech source: the part of a sound file that the scene uses, mixed
// to mono and resampled to 16 kHz. Only a regular file is read, as a FIFO or
// device could block the read forever; reading stops where the scene ends,
// so a long file at a tiny sample rate cannot make the signal huge.
bool readSpeech(const std::string& path, double duration_s, std::vector<float>& signal,
                std::string& error)
{
    error = toolfiles::require_regular_file(path);
    wavfile::Reader reader;
    if (error.empty())
        error = reader.open(path);
    if (!error.empty())
        return false;
    const double rate = double(reader.format().rate);
    std::vector<float> mono;
    error = wavfile::read_mono(reader, path, pdmscene::inputFramesFor(duration_s, rate), mono);
    if (!error.empty())
        return false;
    signal = pdmscene::resampleToSourceRate(
        mono, rate, size_t(std::ceil(duration_s * pdmscene::kSourceRate)) + pdmscene::kSourceTail);
    return true;
}

// Far beyond full scale (0 dB) the modulators only overload; much further
// the level's amplitude overflows and the file comes out silent.
constexpr double kMaxLevelDb = 60.0;

std::string levelError(const std::string& kind, double level)
{
    return kind + ": level " + std::to_string(level) + " dB is above the largest, " +
           std::to_string(int(kMaxLevelDb)) + " dB";
}

int fail(const std::string& message)
{
    return cli::usage_error("pdm-scene", message);
}

} // namespace

int main(int argc, char** argv)
{
    pdmscene::Scene scene;
    unsigned clock_khz = 0;
    std::string out_path, pcm_path;
    struct Pending {
        std::string kind, text;
    };
    std::vector<Pending> pending;

    cli::CommandLine line;
    line.number("--clock",
                cli::choice("a PDM clock in kHz", {256, 384, 512, 768, 1024, 1280, 2048}),
                [&](double v) { clock_khz = unsigned(v); });
    line.text("--out", out_path);
    line.text("--pcm-out", pcm_path);
    cli::Range spacing = cli::real("a spacing in millimetres", 0.0, 1000.0);
    spacing.above = true;
    line.number("--spacing", spacing, [&](double v) { scene.spacing_mm = v; });
    line.number("--duration", cli::real("a duration in seconds", 0.001, 3600.0),
                [&](double v) { scene.duration_s = v; });
    line.number("--mic-noise", cli::real("a level in dB full scale", -INFINITY, 0.0),
                [&](double v) { scene.mic_noise_db = v; });
    line.number("--modulator-order", cli::choice("a modulator order", {2, 4}),
                [&](double v) { scene.modulator_order = int(v); });
    line.number("--mic2-sensitivity", cli::real("a sensitivity in dB", -20.0, 20.0),
                [&](double v) { scene.mic2_sensitivity_db = v; });
    line.number("--seed", cli::whole("a seed", 0, 4294967295.0),
                [&](double v) { scene.seed = uint32_t(v); });
    // Sources, any number of each, in order.
    for (const char* kind : {"--tone", "--noise", "--speechlike", "--speech", "--diffuse-noise"})
        line.text(kind, [&pending, kind](const std::string& value) {
            pending.push_back({kind, value});
            return std::string();
        });
    const std::string usage = line.parse(argc, argv);
    if (line.help()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!usage.empty())
        return fail(usage);
    if (clock_khz == 0)
        return fail("--clock is required (see --help)");
    if (out_path.empty())
        return fail("--out is required (see --help)");
    if (pending.empty())
        return fail("no source given (see --help)");
    if (!pcm_path.empty() && (pcm_path == out_path || toolfiles::same_file(pcm_path, out_path)))
        return fail("--out and --pcm-out name the same file " + out_path);
    std::vector<std::string> inputs;
    for (const Pending& p : pending) {
        const size_t at = p.text.rfind('@');
        if (p.kind == "--speech" && at != std::string::npos)
            inputs.push_back(p.text.substr(0, at));
    }
    for (const std::string& output : {out_path, pcm_path}) {
        const std::string same = toolfiles::refuse_output_among_inputs(output, inputs);
        if (!output.empty() && !same.empty())
            return fail(same);
    }

    // Sources are built after all options so that --duration and --seed apply
    // whatever their position.
    for (const Pending& p : pending) {
        pdmscene::Source src;
        std::string head, error;
        double angle = 0.0, end = -1.0;
        if (p.kind == "--tone") {
            double level = -20.0, freq = 0.0;
            if (!parseDirected(p.text, head, angle, level, true, &end) || !parseNumber(head, freq))
                return fail("--tone: expected FREQ@ANGLE[:DB], got " + p.text);
            if (freq <= 0.0 || freq >= 8000.0)
                return fail("--tone: frequency must lie between 0 and 8000 Hz, got " + head);
            src.kind = pdmscene::SourceKind::Tone;
            src.frequency_hz = freq;
            src.level_db = level;
        } else if (p.kind == "--noise") {
            double level = -30.0;
            if (!parseDirected(p.text, head, angle, level, false, &end))
                return fail("--noise: expected ANGLE[:DB], got " + p.text);
            src.kind = pdmscene::SourceKind::Noise;
            src.level_db = level;
            src.seed = scene.seed * 101u + uint32_t(scene.sources.size()) + 1u;
        } else if (p.kind == "--speechlike") {
            double level = 0.0;
            if (!parseDirected(p.text, head, angle, level, false, &end))
                return fail("--speechlike: expected ANGLE[:DB], got " + p.text);
            src.kind = pdmscene::SourceKind::Signal;
            src.signal = pdmscene::speechLikeSignal(scene.duration_s, scene.seed);
            src.level_db = level;
        } else if (p.kind == "--speech") {
            double level = 0.0;
            if (!parseDirected(p.text, head, angle, level, true, &end))
                return fail("--speech: expected FILE@ANGLE[:DB], got " + p.text);
            if (!readSpeech(head, scene.duration_s, src.signal, error))
                return fail(error);
            src.kind = pdmscene::SourceKind::Signal;
            src.level_db = level;
        } else { // --diffuse-noise DB[:N]
            double level = 0.0, count = 24.0;
            const size_t colon = p.text.find(':');
            const bool ok =
                parseNumber(p.text.substr(0, colon), level) &&
                (colon == std::string::npos || parseNumber(p.text.substr(colon + 1), count));
            if (!ok || count < 1.0 || count > 1000.0 || count != std::floor(count))
                return fail("--diffuse-noise: expected DB[:N] with N from 1 to 1000, got " +
                            p.text);
            if (level > kMaxLevelDb)
                return fail(levelError(p.kind, level));
            pdmscene::addDiffuseNoise(scene, level, int(count),
                                      scene.seed + uint32_t(scene.sources.size()));
            continue;
        }
        if (src.level_db > kMaxLevelDb)
            return fail(levelError(p.kind, src.level_db));
        src.azimuth_deg = angle;
        src.end_azimuth_deg = end;
        scene.sources.push_back(std::move(src));
    }

    // Both outputs go to temporary files beside them (created before the
    // rendering, so that an output that cannot be created fails at once) and
    // are renamed into place only when both are complete: a failure leaves
    // neither behind.
    toolfiles::PendingOutput pdm_file(out_path);
    if (!pdm_file.error().empty())
        return fail(pdm_file.error());
    std::unique_ptr<toolfiles::PendingOutput> pcm_file;
    if (!pcm_path.empty()) {
        pcm_file = std::make_unique<toolfiles::PendingOutput>(pcm_path);
        if (!pcm_file->error().empty())
            return fail(pcm_file->error());
    }
    pdmscene::PdmStats stats;
    const std::vector<uint8_t> pdm = pdmscene::renderPdm(scene, clock_khz, stats);
    std::string error;
    if (!writeFile(pdm_file.temp_path(), pdm.data(), pdm.size(), error))
        return fail("cannot write " + out_path);
    if (pcm_file) {
        error = wavfile::write_pcm16(*pcm_file, 16000, 2, pdmscene::renderPcm16k(scene));
        if (!error.empty())
            return fail(error);
    }
    error = pdm_file.commit();
    if (error.empty() && pcm_file)
        error = pcm_file->commit();
    if (!error.empty())
        return fail(error);

    std::fprintf(stderr,
                 "pdm-scene: %zu bytes (%zu ms at %u kHz, 2 microphones), peak modulator "
                 "input %.3f, %llu overloads\n",
                 pdm.size(), pdm.size() / 2 / (clock_khz / 8), clock_khz, stats.peak_input,
                 (unsigned long long)stats.overloads);
    if (stats.overloads > 0 || stats.peak_input > 0.9)
        std::fprintf(stderr, "pdm-scene: warning: the modulators were driven near or beyond "
                             "full scale; lower the source levels\n");
    return 0;
}
