// Beam quality report: simulated free-field scenes (pdm-scene's synthesis)
// through the library at 1024 kHz PDM.
//
// 1. Polar response of the beam output at 500 Hz, 1, 2 and 4 kHz for each
//    algorithm type and a few spacings: a -20 dB tone from each azimuth,
//    the amplitude of its component in the output once settled. Table of
//    front-to-back ratio (0 against 180 degrees) and directivity index (the
//    front power against the power averaged over all directions in space,
//    the pattern being symmetric about the array axis). One source at a
//    time: the adaptive stage learns to cancel each off-axis tone and the
//    denoiser takes a steady tone for noise, so for types 1 to 3 these
//    figures describe the adaptation to a single source, not a fixed
//    pattern; the fixed beam is type 0.
// 2. SNR of a speech-like talker in front in diffuse-like noise (24
//    uncorrelated noises from directions of uniform cosine), for each type.
//    The SNR is measured from the output itself: power while the talker
//    speaks against power in the talker's pauses (known from the clean
//    signal, with guard intervals), (P_speech - P_pause) / P_pause.
//
// 3. Default mode against field mode (field_quality.h).
//
// With --figures DIR the figures that the README quotes are also written as
// fragments (tools/support/figures.h): DIR/beam_quality.md from 1 and 2
// (not with --field-only), DIR/field_quality.md from 3.
//
//   beam_quality [--csv FILE] [--figures DIR] [--quick] [--field-only]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "field_quality.h"
#include "figures.h"
#include "scene.h"
#include "veldra.h"

namespace
{

constexpr unsigned kClockKhz = 1024;
constexpr int kPlayOutDelay = 256; // samples between beam and output

struct LibraryRun {
    std::vector<double> out; // channel 0, play-out delay removed
};

// Runs the library on interleaved PDM (strides 2) with the given type and
// spacing (tenths of a millimetre); the block holds every type.
LibraryRun runLibrary(const std::vector<uint8_t>& pdm, uint32_t type, uint16_t distance)
{
    VeldraHandle handle = {};
    handle.data_format = VELDRA_FORMAT_PDM;
    handle.sampling_frequency = kClockKhz;
    handle.mic1_channels = 2;
    handle.mic2_channels = 2;
    handle.out_channels = 2;
    handle.algorithm_type = VELDRA_TYPE_ADAPTIVE_DENOISE;
    handle.second_output = VELDRA_SECOND_OUTPUT_NONE;
    handle.delay_enable = 1;
    Veldra_getMemorySize(&handle);
    std::vector<uint32_t> block(handle.internal_memory_size / 4 + 1);
    handle.internal_memory = block.data();
    uint32_t err = Veldra_Init(&handle);
    VeldraConfig config = {};
    config.mic_distance = distance;
    config.algorithm_type = type;
    config.volume = 0;
    config.mic2_gain = 1.0f;
    err |= Veldra_setConfig(&handle, &config);
    if (err != 0u)
        std::fprintf(stderr, "beam_quality: library reported 0x%x\n", unsigned(err));

    const size_t bytes_per_call = 2 * kClockKhz / 8;
    std::vector<double> all;
    int16_t out[16 * 2];
    for (size_t at = 0; at + bytes_per_call <= pdm.size(); at += bytes_per_call) {
        if (Veldra_FirstStep(&pdm[at], &pdm[at + 1], out, &handle) == 1u)
            Veldra_SecondStep(&handle);
        for (int i = 0; i < 16; ++i)
            all.push_back(out[2 * i]);
    }
    LibraryRun run;
    if (all.size() > size_t(kPlayOutDelay))
        run.out.assign(all.begin() + kPlayOutDelay, all.end());
    return run;
}

double toneAmplitude(const std::vector<double>& x, double freq, size_t first)
{
    double s = 0.0, c = 0.0;
    for (size_t n = first; n < x.size(); ++n) {
        const double w = 2.0 * M_PI * freq * double(n) / 16000.0;
        s += x[n] * std::sin(w);
        c += x[n] * std::cos(w);
    }
    return x.size() > first ? 2.0 * std::hypot(s, c) / double(x.size() - first) : 0.0;
}

double toDb(double ratio)
{
    return 10.0 * std::log10(std::max(ratio, 1e-12));
}

const char* typeName(uint32_t type)
{
    static const char* names[] = {"cardioid", "cardioid+denoise", "adaptive", "adaptive+denoise"};
    return names[type & 3u];
}

struct Options {
    std::string csv;
    std::string figures;
    bool quick = false;
    bool field_only = false;
};

// What the README quotes: the fixed beam's (type 0) front-to-back ratio and
// directivity index, and the SNR per type in diffuse-like noise.
struct ReadmeFigures {
    std::vector<double> spacings_mm;
    double fb_min = INFINITY, fb_max = -INFINITY;       // every spacing and frequency
    double di_min = INFINITY, di_max = -INFINITY;       // up to 1 kHz
    double di_2k_min = INFINITY, di_2k_max = -INFINITY; // at 2 kHz
    std::vector<double> di_4k;                          // per spacing
    double input_snr = 0.0, snr[4] = {};
};

std::string figuresText(const ReadmeFigures& f)
{
    std::string di_4k, spacings;
    for (size_t i = 0; i < f.di_4k.size(); ++i) {
        const char* joint = i == 0 ? "" : i + 1 == f.di_4k.size() ? " and " : ", ";
        char part[32];
        std::snprintf(part, sizeof part, "%s%.1f", joint, f.di_4k[i]);
        di_4k += part;
        std::snprintf(part, sizeof part, "%s%.0f", joint, f.spacings_mm[i]);
        spacings += part;
    }
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "For every spacing from %.0f to %.0f mm the cardioid beam (type 0) rejects a source "
        "behind\n"
        "the array by %.0f-%.0f dB relative to the front at 500 Hz, 1, 2 and 4 kHz. Its "
        "directivity\n"
        "index is %.1f-%.1f dB up to 1 kHz (an ideal cardioid has 4.8 dB), %.1f-%.1f dB at 2 kHz\n"
        "and %s dB at 4 kHz for %s mm. With a speech-like talker in front\n"
        "and diffuse-like noise (24 uncorrelated sources, 15 mm spacing) the first microphone's "
        "SNR\n"
        "is %.1f dB; the output SNR is %.1f dB for type 0, %.1f for type 1, %.1f for type 2 and "
        "%.1f\n"
        "for type 3: type 3 gains %.1f dB over type 0.\n",
        f.spacings_mm.front(), f.spacings_mm.back(), f.fb_min, f.fb_max, f.di_min, f.di_max,
        f.di_2k_min, f.di_2k_max, di_4k.c_str(), spacings.c_str(), f.input_snr, f.snr[0], f.snr[1],
        f.snr[2], f.snr[3], f.snr[3] - f.snr[0]);
    return text;
}

void polarReport(const Options& opt, FILE* csv, ReadmeFigures& figures)
{
    const std::vector<double> freqs = {500.0, 1000.0, 2000.0, 4000.0};
    const std::vector<uint16_t> distances =
        opt.quick ? std::vector<uint16_t>{150} : std::vector<uint16_t>{50, 100, 150, 200};
    const double step_deg = opt.quick ? 30.0 : 10.0;
    const int angles = int(180.0 / step_deg) + 1;
    const double duration = 1.5;

    std::printf("Polar response of the beam output, PDM %u kHz, tones at -20 dB full scale\n",
                kClockKhz);
    std::printf("(F/B: 0 against 180 degrees; DI: directivity index in a diffuse field;\n"
                " one tone at a time, so types 1 to 3 show their adaptation to it)\n\n");
    std::printf("%-8s %-17s", "spacing", "type");
    for (double f : freqs)
        std::printf("   %4.0f Hz F/B   DI", f);
    std::printf("\n");

    for (uint16_t d : distances) {
        figures.spacings_mm.push_back(d / 10.0);
        // level[type][freq][angle]
        std::vector<std::vector<std::vector<double>>> level(
            4, std::vector<std::vector<double>>(freqs.size(), std::vector<double>(size_t(angles))));
        for (size_t fi = 0; fi < freqs.size(); ++fi) {
            for (int a = 0; a < angles; ++a) {
                pdmscene::Scene scene;
                scene.spacing_mm = d / 10.0;
                scene.duration_s = duration;
                pdmscene::Source tone;
                tone.kind = pdmscene::SourceKind::Tone;
                tone.frequency_hz = freqs[fi];
                tone.level_db = -20.0;
                tone.azimuth_deg = a * step_deg;
                scene.sources.push_back(tone);
                pdmscene::PdmStats stats;
                const std::vector<uint8_t> pdm = pdmscene::renderPdm(scene, kClockKhz, stats);
                for (uint32_t type = 0; type < 4; ++type) {
                    const LibraryRun run = runLibrary(pdm, type, d);
                    level[type][fi][size_t(a)] =
                        toneAmplitude(run.out, freqs[fi], run.out.size() / 2);
                }
            }
        }
        for (uint32_t type = 0; type < 4; ++type) {
            std::printf("%5.1f mm %-17s", d / 10.0, typeName(type));
            for (size_t fi = 0; fi < freqs.size(); ++fi) {
                const std::vector<double>& lv = level[type][fi];
                const double front = lv.front();
                // Diffuse power: 0.5 x integral of |H|^2 sin(theta) over 0..pi
                // (trapezoids), the front power normalised to 1.
                double diffuse = 0.0;
                for (int a = 0; a + 1 < angles; ++a) {
                    const double t0 = a * step_deg * M_PI / 180.0,
                                 t1 = (a + 1) * step_deg * M_PI / 180.0;
                    const double p0 = lv[size_t(a)] * lv[size_t(a)] * std::sin(t0);
                    const double p1 = lv[size_t(a) + 1] * lv[size_t(a) + 1] * std::sin(t1);
                    diffuse += 0.5 * (p0 + p1) * (t1 - t0);
                }
                diffuse *= 0.5;
                const double fb = toDb(front * front / std::max(lv.back() * lv.back(), 1e-12));
                const double di = toDb(front * front / std::max(diffuse, 1e-12));
                std::printf("   %8.1f %5.1f", fb, di);
                if (type == 0) {
                    figures.fb_min = std::min(figures.fb_min, fb);
                    figures.fb_max = std::max(figures.fb_max, fb);
                    if (freqs[fi] <= 1000.0) {
                        figures.di_min = std::min(figures.di_min, di);
                        figures.di_max = std::max(figures.di_max, di);
                    } else if (freqs[fi] <= 2000.0) {
                        figures.di_2k_min = std::min(figures.di_2k_min, di);
                        figures.di_2k_max = std::max(figures.di_2k_max, di);
                    } else {
                        figures.di_4k.push_back(di);
                    }
                }
                if (csv) {
                    for (int a = 0; a < angles; ++a)
                        std::fprintf(
                            csv, "polar,%.1f,%u,%.0f,%.1f,%.3f\n", d / 10.0, unsigned(type),
                            freqs[fi], a * step_deg,
                            toDb(lv[size_t(a)] * lv[size_t(a)] / std::max(front * front, 1e-12)));
                    std::fprintf(csv, "summary,%.1f,%u,%.0f,%.2f,%.2f\n", d / 10.0, unsigned(type),
                                 freqs[fi], fb, di);
                }
            }
            std::printf("\n");
        }
    }
    std::printf("\n");
}

// Output power in speech frames and pause frames of 8 ms; a frame counts
// as speech when the clean talker is active throughout it, as a pause when
// the talker is silent from 64 ms before it to 128 ms after it.
double measuredSnr(const std::vector<double>& x, const std::vector<float>& talker, size_t skip)
{
    const size_t frame = 128;
    double speech = 0.0, pause = 0.0;
    size_t speech_frames = 0, pause_frames = 0;
    for (size_t f = skip / frame; (f + 1) * frame <= std::min(x.size(), talker.size()); ++f) {
        const size_t start = f * frame;
        bool all_active = true, quiet = true;
        const size_t lo = start >= 1024 ? start - 1024 : 0;
        const size_t hi = std::min(talker.size(), start + frame + 2048);
        for (size_t n = lo; n < hi; ++n) {
            const bool active = talker[n] != 0.0f;
            if (active)
                quiet = false;
            if (!active && n >= start && n < start + frame)
                all_active = false;
        }
        double p = 0.0;
        for (size_t n = start; n < start + frame; ++n)
            p += x[n] * x[n];
        if (all_active) {
            speech += p;
            ++speech_frames;
        } else if (quiet) {
            pause += p;
            ++pause_frames;
        }
    }
    if (speech_frames == 0 || pause_frames == 0)
        return 0.0;
    const double ps = speech / double(speech_frames), pn = pause / double(pause_frames);
    return toDb(std::max(ps - pn, 1e-9) / std::max(pn, 1e-9));
}

void snrReport(const Options& opt, FILE* csv, ReadmeFigures& figures)
{
    const double duration = opt.quick ? 6.0 : 12.0;
    const size_t skip = 16000 * 3; // adaptation time of the second step
    pdmscene::Scene scene;
    scene.spacing_mm = 15.0;
    scene.duration_s = duration;
    pdmscene::Source talker;
    talker.kind = pdmscene::SourceKind::Signal;
    talker.signal = pdmscene::speechLikeSignal(duration, 3);
    talker.level_db = -6.0; // voiced parts about -26 dB full scale
    talker.azimuth_deg = 0.0;
    scene.sources.push_back(talker);
    pdmscene::addDiffuseNoise(scene, -36.0, 24, 11);
    pdmscene::PdmStats stats;
    const std::vector<uint8_t> pdm = pdmscene::renderPdm(scene, kClockKhz, stats);

    // Reference: the first microphone alone, at 16 kHz from the same scene.
    const std::vector<int16_t> pcm = pdmscene::renderPcm16k(scene);
    std::vector<double> mic1(pcm.size() / 2);
    for (size_t i = 0; i < mic1.size(); ++i)
        mic1[i] = pcm[2 * i];
    const double input_snr = measuredSnr(mic1, talker.signal, skip);

    std::printf("Speech-like talker in front in diffuse-like noise, spacing 15 mm, %u kHz\n",
                kClockKhz);
    std::printf("first microphone SNR %.1f dB\n", input_snr);
    std::printf("%-17s %10s %12s\n", "type", "SNR dB", "vs mic 1 dB");
    double snr[4];
    for (uint32_t type = 0; type < 4; ++type) {
        const LibraryRun run = runLibrary(pdm, type, 150);
        snr[type] = measuredSnr(run.out, talker.signal, skip);
        std::printf("%-17s %10.1f %12.1f\n", typeName(type), snr[type], snr[type] - input_snr);
        if (csv)
            std::fprintf(csv, "snr,15.0,%u,%.2f,%.2f\n", unsigned(type), input_snr, snr[type]);
    }
    std::printf("SNR gain of type 3 over type 0: %.1f dB\n", snr[3] - snr[0]);
    figures.input_snr = input_snr;
    std::copy(snr, snr + 4, figures.snr);
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: beam_quality [--csv FILE] [--figures DIR] [--quick] "
                        "[--field-only]\n";
    Options opt;
    cli::CommandLine line;
    line.file("--csv", opt.csv);
    line.file("--figures", opt.figures);
    line.flag("--quick", opt.quick);
    line.flag("--field-only", opt.field_only);
    if (const int status = line.parse_or_exit_status(argc, argv, "beam_quality", usage);
        status >= 0)
        return status;
    if (!opt.figures.empty() && opt.quick) {
        std::fprintf(stderr, "beam_quality: --figures needs the full report (no --quick)\n");
        return 2;
    }
    FILE* csv = nullptr;
    if (!opt.csv.empty()) {
        csv = std::fopen(opt.csv.c_str(), "w");
        if (csv == nullptr) {
            std::fprintf(stderr, "beam_quality: cannot create %s\n", opt.csv.c_str());
            return 1;
        }
        std::fprintf(csv, "kind,spacing_mm,type,freq_or_input,angle_or_value,value\n");
    }
    ReadmeFigures readme;
    if (!opt.field_only) {
        polarReport(opt, csv, readme);
        snrReport(opt, csv, readme);
    }
    FieldFigures field;
    fieldQualityReport(opt.quick, csv, field);
    if (csv && std::fclose(csv) != 0) {
        std::fprintf(stderr, "beam_quality: cannot write %s\n", opt.csv.c_str());
        return 1;
    }
    if (!opt.figures.empty()) {
        std::vector<std::string> errors = {
            figures::writeFragment(opt.figures + "/field_quality.md", fieldFiguresText(field))};
        if (!opt.field_only)
            errors.push_back(
                figures::writeFragment(opt.figures + "/beam_quality.md", figuresText(readme)));
        for (const std::string& error : errors) {
            if (!error.empty()) {
                std::fprintf(stderr, "beam_quality: %s\n", error.c_str());
                return 1;
            }
        }
    }
    return 0;
}
