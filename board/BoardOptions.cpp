#include "BoardOptions.h"

#include "command_line.h"
#include "LinkProtocol.h"

const char* BoardUsage()
{
    return "usage: halvane-board [--port N] [--name TEXT] [--features HEX] [--enabled HEX]\n"
           "                     [--reply-delay MS] [--verbose]\n"
           "  --port N          serve as COM<N> (0..9999, default 7)\n"
           "  --name TEXT       board name it reports (default contains \"Zodurev\")\n"
           "  --features HEX    availableFeatures bits (default 3F)\n"
           "  --enabled HEX     enabledFeatures bits at start (default 09)\n"
           "  --reply-delay MS  delay every answer by MS milliseconds (default 0)\n"
           "  --verbose         log requests and answers to stderr\n"
           "       halvane-board ... --room [--talker-angle DEG] [--talker-moving] [--noise-db "
           "SPL]\n"
           "                     [--interferer-angle DEG] [--far-end-db SPL] [--audio-out "
           "FILE.wav]\n"
           "                     [--play] [--fast]\n"
           "  --room                the real kit in a simulated room: measured direction,\n"
           "                        noise level and speech commands\n"
           "  --talker-angle DEG    where the talker stands (default 0 = Direction 1)\n"
           "  --talker-moving       the talker walks round the board (20 degrees a second)\n"
           "  --noise-db SPL        diffuse room noise in dB SPL (default 45)\n"
           "  --interferer-angle DEG  a competing talker at DEG\n"
           "  --far-end-db SPL      the board's loudspeaker plays a far-end talker at SPL\n"
           "                        (at output volume 50)\n"
           "  --audio-out FILE.wav  record the stream to the PC (16 kHz, 16-bit, stereo)\n"
           "  --play                play that stream on the default sound device\n"
           "  --fast                run faster than real time\n";
}

namespace
{

// The options of the simulated room; each but --room itself is noted in
// `detail`, as it needs --room.
void AddRoomOptions(cli::CommandLine& line, BoardOptions& options, std::string& detail)
{
    line.flag("--room", options.room);
    const auto noted = [&detail](const char* name, bool& target) {
        return [&detail, &target, name] {
            target = true;
            detail = name;
        };
    };
    line.flag("--talker-moving", noted("--talker-moving", options.talkerMoving));
    line.flag("--play", noted("--play", options.play));
    line.flag("--fast", noted("--fast", options.fast));
    struct Numeric {
        const char* name;
        const char* what;
        double minimum, maximum;
        double* value;
        bool* flag;
    };
    for (const Numeric& n : {
             Numeric{"--talker-angle", "an angle in degrees", -360.0, 720.0, &options.talkerAngle,
                     nullptr},
             Numeric{"--noise-db", "a level in dB SPL", 0.0, 110.0, &options.noiseDb, nullptr},
             Numeric{"--interferer-angle", "an angle in degrees", -360.0, 720.0,
                     &options.interfererAngle, &options.interferer},
             Numeric{"--far-end-db", "a level in dB SPL", 0.0, 110.0, &options.farEndDb,
                     &options.farEnd},
         }) {
        line.number(n.name, cli::real(n.what, n.minimum, n.maximum), [n, &detail](double v) {
            *n.value = v;
            if (n.flag)
                *n.flag = true;
            detail = n.name;
        });
    }
    line.text("--audio-out", [&options, &detail](const std::string& value) {
        if (value.empty())
            return std::string("--audio-out needs a file name");
        options.audioOut = value;
        detail = "--audio-out";
        return std::string();
    });
}

} // namespace

bool ParseBoardOptions(int argc, char** argv, BoardOptions& options, std::string& error)
{
    cli::CommandLine line;
    line.flag("--verbose", options.verbose);
    line.number("--port", cli::whole("a port number", 0, 9999),
                [&](double v) { options.port = static_cast<int>(v); });
    line.text("--name", [&options](const std::string& value) {
        if (value.empty() || value.size() > LINK_MAX_REQUEST_PAYLOAD)
            return "--name must hold 1 to " + std::to_string(LINK_MAX_REQUEST_PAYLOAD) + " bytes";
        options.name = value;
        return std::string();
    });
    cli::Range bits = cli::whole("feature bits", 0, 0xFFFF);
    bits.kind = cli::Range::Kind::Hex;
    line.number("--features", bits, [&](double v) { options.features = uint16_t(v); });
    line.number("--enabled", bits, [&](double v) { options.enabled = uint16_t(v); });
    line.number("--reply-delay", cli::whole("a delay in milliseconds", 0, 600000),
                [&](double v) { options.replyDelayMs = static_cast<int>(v); });
    std::string roomDetail; // a room option given, which needs --room
    AddRoomOptions(line, options, roomDetail);
    error = line.parse(argc, argv);
    options.help = line.help();
    if (!error.empty())
        return false;
    if (!options.help && !roomDetail.empty() && !options.room) {
        error = roomDetail + " needs --room";
        return false;
    }
    return true;
}
