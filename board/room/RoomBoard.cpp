#include "RoomBoard.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "CpuTime.h"
#include "TalkerSpeech.h"

namespace
{

constexpr double COMMAND_SHOWN_S = 3.0;
constexpr size_t RECOGNISER_BACKLOG_LIMIT = 16000 * 4; // fast runs wait for the recogniser

double MonotonicNow()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

const char INTERFERER_TEXT[] =
    "The weather report for tomorrow promises a bright morning, some clouds after lunch, "
    "and a light breeze from the west that should keep the evening mild.";
const char FAR_END_TEXT[] =
    "Good afternoon, this is the remote side of the call. We are reviewing the quarterly "
    "figures and will send the summary before the end of the day.";

} // namespace

RoomBoard::RoomBoard(const RoomBoardOptions& boardOptions)
    : options(boardOptions), firmware(boardOptions.room.kind, boardOptions.room.pdmClockKhz),
      finder(MicGeometryOf(boardOptions.room.kind))
{
}

RoomBoard::~RoomBoard()
{
    Stop();
}

bool RoomBoard::Prepare(std::string& error, std::string& notes)
{
    std::vector<std::vector<float>> phrases;
    if (options.room.talker) {
        for (const SpokenCommand& c : SpokenCommands()) {
            phrases.push_back(SynthesiseSpeech(c.words, "en-us", error));
            if (phrases.back().empty())
                return false;
        }
    }
    std::vector<float> interferer, farEnd;
    if (options.room.interferer &&
        (interferer = SynthesiseSpeech(INTERFERER_TEXT, "en-us+f3", error)).empty())
        return false;
    if (options.room.farEnd && (farEnd = SynthesiseSpeech(FAR_END_TEXT, "en-us+m3", error)).empty())
        return false;
    room = std::make_unique<RoomAcoustics>(options.room, std::move(phrases), std::move(interferer),
                                           std::move(farEnd));
    if (!sink.OpenFile(options.audioOut, error))
        return false;
    std::string why;
    if (options.play && !sink.OpenPlayer(why))
        notes += why + "\n";
    if (options.recognition) {
        recogniserRunning = recogniser.Start(why);
        if (!recogniserRunning)
            notes += "speech commands off: " + why + "\n";
    }
    return true;
}

void RoomBoard::Start()
{
    stopping = false;
    worker = std::thread(&RoomBoard::Loop, this);
}

void RoomBoard::Stop()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    if (recogniserRunning)
        recogniser.Stop();
    recogniserRunning = false;
    sink.Close();
}

void RoomBoard::Apply(const FeatureParameterBlock& block)
{
    std::lock_guard<std::mutex> guard(lock);
    if (std::memcmp(&block, &settings, sizeof block) == 0)
        return;
    settings = block;
    settingsChanged = true;
}

void RoomBoard::Measure(FeatureParameterBlock& block) const
{
    std::lock_guard<std::mutex> guard(lock);
    const uint16_t enabled = block.general.enabledFeatures;
    block.sloc.angle = (enabled & FEATURE_SLOC) ? readings.angle : SLOC_NO_SOURCE;
    block.dbnoise.noiseLevel = readings.noiseLevel;
    block.asr.asrCommand = (enabled & FEATURE_ASR) ? readings.asrCommand : 0;
}

RoomReadings RoomBoard::Readings() const
{
    std::lock_guard<std::mutex> guard(lock);
    return readings;
}

RoomCost RoomBoard::Cost() const
{
    std::lock_guard<std::mutex> guard(lock);
    RoomCost c = cost;
    if (c.audioSeconds > 0.0) {
        c.recognition = 100.0 * recogniser.CpuSeconds() / c.audioSeconds;
        c.room *= 100.0 / c.audioSeconds;
        c.chains *= 100.0 / c.audioSeconds;
        c.localisation *= 100.0 / c.audioSeconds;
    }
    return c;
}

void RoomBoard::WaitForRecogniser()
{
    while (recogniserRunning && recogniser.Backlog() >= 1600)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void RoomBoard::RunMilliseconds(unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
        Tick();
}

// One millisecond of the board.
void RoomBoard::Tick()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (settingsChanged) {
            active = settings;
            settingsChanged = false;
            firmware.Configure(active);
            const unsigned volume = active.output.outputVolume;
            loudspeakerGain = volume / 50.0;
        }
    }
    const double t0 = threadCpuSeconds();
    std::array<std::vector<uint8_t>, ROOM_MICS> pdm;
    int16_t reference[SAMPLES_PER_MS];
    room->RenderMillisecond(loudspeakerGain, pdm, reference);
    const double t1 = threadCpuSeconds();
    int16_t out[2 * SAMPLES_PER_MS];
    int16_t analysis[ROOM_MICS][SAMPLES_PER_MS];
    firmware.Tick(pdm, reference, out, analysis);
    const double t2 = threadCpuSeconds();
    const uint16_t enabled = active.general.enabledFeatures;
    if (enabled & FEATURE_SLOC)
        finder.Push(analysis, active.sloc.threshold);
    if (enabled & FEATURE_DBNOISE)
        noise.Push(analysis[0]);
    const double t3 = threadCpuSeconds();
    if (recogniserRunning && (enabled & FEATURE_ASR)) {
        int16_t mono[SAMPLES_PER_MS];
        for (int i = 0; i < SAMPLES_PER_MS; ++i)
            mono[i] = out[2 * i];
        recogniser.Feed(mono, SAMPLES_PER_MS);
    }
    sink.Write(out, SAMPLES_PER_MS);

    const double now = room->Time();
    if (recogniserRunning && recogniser.Heard() != heardSeen) {
        heardSeen = recogniser.Heard();
        command = recogniser.LastCommand();
        commandUntil = now + COMMAND_SHOWN_S;
        if (options.verbose) {
            const char* words = "";
            for (const SpokenCommand& c : SpokenCommands())
                if (c.code == command)
                    words = c.words;
            std::fprintf(stderr, "room %.1f s: heard command %d (\"%s\")\n", now, command, words);
        }
    }
    if (command != 0 && now >= commandUntil)
        command = 0;

    std::lock_guard<std::mutex> guard(lock);
    cost.audioSeconds = now;
    cost.room += t1 - t0;
    cost.chains += t2 - t1;
    cost.localisation += t3 - t2;
    readings.angle = finder.Angle(active.sloc.resolution);
    readings.noiseLevel = static_cast<int16_t>(std::lround(noise.LevelDbSpl()));
    readings.asrCommand = command;
    readings.talkerAngle = room->TalkerAngle();
    readings.seconds = now;
}

// Real time: the ticks due by the clock, in batches of 8 (one block);
// fast: without waiting, but never more than a few seconds ahead of the
// recogniser. The cost is reported after 10 s of audio and every minute.
void RoomBoard::Loop()
{
    const double start = MonotonicNow();
    uint64_t done = 0;
    double nextReport = 10.0;
    while (!stopping) {
        if (options.fast) {
            for (int i = 0; i < 8; ++i)
                Tick();
            done += 8;
            if (recogniserRunning && recogniser.Backlog() > RECOGNISER_BACKLOG_LIMIT)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else {
            const uint64_t due = static_cast<uint64_t>((MonotonicNow() - start) * 1000.0);
            {
                std::lock_guard<std::mutex> guard(lock);
                cost.worstLagMs = std::max(cost.worstLagMs, double(due) - double(done));
            }
            while (done + 8 <= due && !stopping) {
                for (int i = 0; i < 8; ++i)
                    Tick();
                done += 8;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        if (done / 1000.0 >= nextReport) {
            nextReport += 60.0;
            std::fprintf(stderr, "halvane-board: %s\n", CostText(Cost()).c_str());
        }
    }
}

std::string CostText(const RoomCost& cost)
{
    char text[400];
    std::snprintf(
        text, sizeof text,
        "%.1f s of audio; firmware loop %.1f %% of real time (beamforming or echo cancellation "
        "with decimation %.1f %%, localisation and noise meter %.1f %%, speech recognition %.1f "
        "%%); "
        "room simulation %.1f %%; longest lag behind real time %.0f ms",
        cost.audioSeconds, cost.Firmware(), cost.chains, cost.localisation, cost.recognition,
        cost.room, cost.worstLagMs);
    return text;
}
