#include "BoardOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LinkProtocol.h"

namespace
{

bool ParseNumber(const char* text, int base, long minimum, long maximum, long& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    if (base == 16 && (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0))
        text += 2;
    if (*text == '\0' || *text == '-' || *text == '+' || *text == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, base);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

bool ParseDecimal(const char* text, double minimum, double maximum, double& value)
{
    if (text == nullptr || *text == '\0' || *text == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(parsed >= minimum && parsed <= maximum))
        return false;
    value = parsed;
    return true;
}

// The options of the simulated room; true when option was one of them
// (then ok tells whether its value was good).
bool ParseRoomOption(const std::string& option, int argc, char** argv, int& i,
                     BoardOptions& options, std::string& error, bool& ok)
{
    ok = true;
    if (option == "--room")
        return options.room = true;
    if (option == "--talker-moving")
        return options.talkerMoving = true;
    if (option == "--play")
        return options.play = true;
    if (option == "--fast")
        return options.fast = true;
    struct Numeric {
        const char* name;
        double minimum, maximum;
        double* value;
        bool* flag;
    } numeric[] = {
        {"--talker-angle", -360.0, 720.0, &options.talkerAngle, nullptr},
        {"--noise-db", 0.0, 110.0, &options.noiseDb, nullptr},
        {"--interferer-angle", -360.0, 720.0, &options.interfererAngle, &options.interferer},
        {"--far-end-db", 0.0, 110.0, &options.farEndDb, &options.farEnd}};
    for (const Numeric& n : numeric) {
        if (option != n.name)
            continue;
        if (i + 1 >= argc || !ParseDecimal(argv[i + 1], n.minimum, n.maximum, *n.value)) {
            error = option + " wants a number from " + std::to_string(static_cast<int>(n.minimum)) +
                    " to " + std::to_string(static_cast<int>(n.maximum));
            ok = false;
            return true;
        }
        ++i;
        if (n.flag)
            *n.flag = true;
        return true;
    }
    if (option == "--audio-out") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            error = "--audio-out needs a file name";
            ok = false;
            return true;
        }
        options.audioOut = argv[++i];
        return true;
    }
    return false;
}

} // namespace

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

bool ParseBoardOptions(int argc, char** argv, BoardOptions& options, std::string& error)
{
    std::string roomDetail; // a room option given, which needs --room
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        bool ok = true;
        if (ParseRoomOption(option, argc, argv, i, options, error, ok)) {
            if (!ok)
                return false;
            if (option != "--room")
                roomDetail = option;
            continue;
        }
        if (option != "--port" && option != "--name" && option != "--features" &&
            option != "--enabled" && option != "--reply-delay") {
            error = "unknown option " + option;
            return false;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        long number = 0;
        if (option == "--name") {
            const size_t length = std::strlen(value);
            if (length == 0 || length > LINK_MAX_REQUEST_PAYLOAD) {
                error =
                    "--name must hold 1 to " + std::to_string(LINK_MAX_REQUEST_PAYLOAD) + " bytes";
                return false;
            }
            options.name = value;
        } else if (option == "--port") {
            if (!ParseNumber(value, 10, 0, 9999, number)) {
                error = "--port wants a number 0..9999, not '" + std::string(value) + "'";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (option == "--reply-delay") {
            if (!ParseNumber(value, 10, 0, 600000, number)) {
                error =
                    "--reply-delay wants milliseconds 0..600000, not '" + std::string(value) + "'";
                return false;
            }
            options.replyDelayMs = static_cast<int>(number);
        } else {
            if (!ParseNumber(value, 16, 0, 0xFFFF, number)) {
                error =
                    option + " wants a hexadecimal value 0..FFFF, not '" + std::string(value) + "'";
                return false;
            }
            (option == "--features" ? options.features : options.enabled) =
                static_cast<uint16_t>(number);
        }
    }
    if (!roomDetail.empty() && !options.room) {
        error = roomDetail + " needs --room";
        return false;
    }
    return true;
}
