#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cli
{

namespace
{

// The whole of `text` as a number of `kind`; false for anything else.
bool parse_number(const std::string& text, Range::Kind kind, double& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    if (kind == Range::Kind::Hex)
        value = static_cast<double>(std::strtol(begin, &end, 16));
    else
        value = std::strtod(begin, &end);
    if (errno != 0 || end == begin || *end != '\0' || !std::isfinite(value))
        return false;
    return kind != Range::Kind::Whole || value == std::floor(value);
}

bool parse_single(const std::string& text, float& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtof(begin, &end);
    return errno == 0 && end != begin && *end == '\0' && std::isfinite(value);
}

bool in_range(const Range& range, double value)
{
    if (!range.choices.empty()) {
        for (double choice : range.choices)
            if (value == choice)
                return true;
        return false;
    }
    const bool low_ok = range.above ? value > range.low : value >= range.low;
    return low_ok && value <= range.high;
}

std::string show(double value, Range::Kind kind)
{
    char text[64];
    if (kind == Range::Kind::Hex)
        std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(value));
    else if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// "1 to 65535", "above 0, up to 1000", "at most 0", "0, 1 or 7".
std::string describe(const Range& range)
{
    if (!range.choices.empty()) {
        std::string text;
        for (size_t i = 0; i < range.choices.size(); ++i) {
            if (i > 0)
                text += i + 1 == range.choices.size() ? " or " : ", ";
            text += show(range.choices[i], range.kind);
        }
        return text;
    }
    const std::string low = show(range.low, range.kind), high = show(range.high, range.kind);
    if (std::isinf(range.low))
        return "at most " + high;
    if (std::isinf(range.high))
        return (range.above ? "above " : "at least ") + low;
    return range.above ? "above " + low + ", up to " + high : low + " to " + high;
}

std::string not_a_number(const std::string& name, const Range& range, const std::string& value)
{
    const char* kind = range.kind == Range::Kind::Whole ? "a whole number"
                       : range.kind == Range::Kind::Hex ? "a hexadecimal number"
                                                        : "a number";
    return name + " wants " + kind + ", got '" + value + "'";
}

std::string out_of_range(const std::string& name, const Range& range, const std::string& value)
{
    return name + " wants " + range.what + " (" + describe(range) + "), got '" + value + "'";
}

} // namespace

Range whole(const std::string& what, double low, double high)
{
    Range range;
    range.what = what;
    range.kind = Range::Kind::Whole;
    range.low = low;
    range.high = high;
    return range;
}

Range real(const std::string& what, double low, double high)
{
    Range range;
    range.what = what;
    range.low = low;
    range.high = high;
    return range;
}

Range choice(const std::string& what, std::vector<double> choices)
{
    Range range;
    range.what = what;
    range.kind = Range::Kind::Whole;
    range.choices = std::move(choices);
    return range;
}

void CommandLine::flag(const std::string& name, std::function<void()> action)
{
    options_.push_back({name, false, std::move(action), nullptr});
}

void CommandLine::flag(const std::string& name, bool& target)
{
    flag(name, [&target] { target = true; });
}

void CommandLine::text(const std::string& name, TextAction action)
{
    options_.push_back({name, true, nullptr, std::move(action)});
}

void CommandLine::text(const std::string& name, std::string& target)
{
    text(name, [&target](const std::string& value) {
        target = value;
        return std::string();
    });
}

void CommandLine::file(const std::string& name, std::string& target)
{
    text(name, [&target, name](const std::string& value) {
        if (value.empty())
            return name + " needs a file name";
        target = value;
        return std::string();
    });
}

void CommandLine::number(const std::string& name, const Range& range,
                         std::function<void(double)> action)
{
    text(name, [name, range, action](const std::string& value) {
        double number = 0.0;
        if (!parse_number(value, range.kind, number))
            return not_a_number(name, range, value);
        if (!in_range(range, number))
            return out_of_range(name, range, value);
        action(number);
        return std::string();
    });
}

void CommandLine::number(const std::string& name, const Range& range, float& target)
{
    text(name, [name, range, &target](const std::string& value) {
        float number = 0.0f;
        if (!parse_single(value, number))
            return not_a_number(name, range, value);
        if (!in_range(range, number))
            return out_of_range(name, range, value);
        target = number;
        return std::string();
    });
}

const CommandLine::Option* CommandLine::find(const std::string& name) const
{
    for (const Option& option : options_)
        if (option.name == name)
            return &option;
    return nullptr;
}

std::string CommandLine::parse(int argc, char** argv)
{
    help_ = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            help_ = true;
            return {};
        }
        const Option* option = find(name);
        if (option == nullptr)
            return "unknown option " + name + " (see --help)";
        if (!option->takes_value) {
            option->on_flag();
            continue;
        }
        if (i + 1 >= argc)
            return name + " needs a value";
        const std::string error = option->on_value(argv[++i]);
        if (!error.empty())
            return error;
    }
    return {};
}

int CommandLine::parse_or_exit_status(int argc, char** argv, const char* program, const char* usage)
{
    const std::string error = parse(argc, argv);
    if (!error.empty())
        return usage_error(program, error, usage);
    if (help_) {
        std::printf("%s", usage);
        return 0;
    }
    return -1;
}

int usage_error(const char* program, const std::string& message, const char* usage)
{
    std::fprintf(stderr, "%s: %s\n%s", program, message.c_str(), usage ? usage : "");
    return 2;
}

} // namespace cli
