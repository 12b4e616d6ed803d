// The command-line parser of the host programs: options with and without a
// value, numbers checked for form and range, --help and -h, and one wording
// for every usage error the parser finds:
//   unknown option --x (see --help)
//   --x needs a value
//   --x needs a file name
//   --x wants a number, got 'abc'            (a whole / a hexadecimal number)
//   --x wants WHAT (LOW to HIGH), got 'V'
#ifndef HALVANE_TOOLS_COMMAND_LINE_H
#define HALVANE_TOOLS_COMMAND_LINE_H

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace cli
{

// The values a numeric option takes: from `low` to `high` (`low` itself
// excluded when `above`), or exactly the `choices` when there are any.
struct Range {
    enum class Kind {
        Real,  // any finite number, as strtod reads it
        Whole, // the same without a fraction
        Hex,   // a hexadecimal integer, 0x prefix optional
    };
    std::string what; // what the value means, e.g. "an echo tail in samples"
    Kind kind = Kind::Real;
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    bool above = false;
    std::vector<double> choices;
};

Range whole(const std::string& what, double low, double high);
Range real(const std::string& what, double low, double high);
Range choice(const std::string& what, std::vector<double> choices);

class CommandLine
{
  public:
    // Checks and takes a text value: empty, or why the value is refused.
    using TextAction = std::function<std::string(const std::string& value)>;

    // An option without a value.
    void flag(const std::string& name, std::function<void()> action);
    void flag(const std::string& name, bool& target);
    // An option with a text value; repeating it calls the action again.
    void text(const std::string& name, TextAction action);
    void text(const std::string& name, std::string& target);
    // A file name: like text(), but an empty value is refused.
    void file(const std::string& name, std::string& target);
    // A number within `range`.
    void number(const std::string& name, const Range& range, std::function<void(double)> action);
    // A number read in single precision (as strtof reads it) within `range`.
    void number(const std::string& name, const Range& range, float& target);

    // Parses argv[1..] in order. Parsing stops at --help or -h (help() then
    // tells). Returns empty on success, else the message for the user.
    std::string parse(int argc, char** argv);
    bool help() const { return help_; }
    // For a program whose help is its usage text: parses, and on --help
    // prints the usage to stdout, on a usage error the message and the usage
    // to stderr. Returns -1 to go on, else the exit status (0 or 2).
    int parse_or_exit_status(int argc, char** argv, const char* program, const char* usage);

  private:
    struct Option {
        std::string name;
        bool takes_value;
        std::function<void()> on_flag;
        TextAction on_value;
    };
    const Option* find(const std::string& name) const;

    std::vector<Option> options_;
    bool help_ = false;
};

// Prints "program: message" and the usage text (when given) to stderr and
// returns 2, the exit status of every usage error.
int usage_error(const char* program, const std::string& message, const char* usage = nullptr);

} // namespace cli

#endif
