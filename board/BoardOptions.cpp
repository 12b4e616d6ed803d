#include "BoardOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LinkProtocol.h"

namespace {

bool ParseNumber(const char* text, int base, long minimum, long maximum, long& value) {
    if (text == nullptr || *text == '\0') return false;
    if (base == 16 && (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0))
        text += 2;
    if (*text == '\0' || *text == '-' || *text == '+' || *text == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, base);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) return false;
    value = parsed;
    return true;
}

}  // namespace

const char* BoardUsage() {
    return "usage: halvane-board [--port N] [--name TEXT] [--features HEX] [--enabled HEX]\n"
           "                     [--reply-delay MS] [--verbose]\n"
           "  --port N          serve as COM<N> (0..9999, default 7)\n"
           "  --name TEXT       board name it reports (default contains \"Zodurev\")\n"
           "  --features HEX    availableFeatures bits (default 3F)\n"
           "  --enabled HEX     enabledFeatures bits at start (default 09)\n"
           "  --reply-delay MS  delay every answer by MS milliseconds (default 0)\n"
           "  --verbose         log requests and answers to stderr\n";
}

bool ParseBoardOptions(int argc, char** argv, BoardOptions& options, std::string& error) {
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
                error = "--name must hold 1 to " + std::to_string(LINK_MAX_REQUEST_PAYLOAD) + " bytes";
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
                error = "--reply-delay wants milliseconds 0..600000, not '" + std::string(value) + "'";
                return false;
            }
            options.replyDelayMs = static_cast<int>(number);
        } else {
            if (!ParseNumber(value, 16, 0, 0xFFFF, number)) {
                error = option + " wants a hexadecimal value 0..FFFF, not '" + std::string(value) + "'";
                return false;
            }
            (option == "--features" ? options.features : options.enabled) = static_cast<uint16_t>(number);
        }
    }
    return true;
}
