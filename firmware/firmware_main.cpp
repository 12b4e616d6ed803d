/*
 * Bare-metal test image: runs every scenario on the emulated Cortex-M7,
 * writes each output stream to a host file "<scenario>.out" and the
 * instruction counts of the timed calls to "counts.txt", both through
 * semihosting into QEMU's working directory.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "instruction_counter.h"
#include "scenarios.h"
#include "semihosting.h"

extern "C" uint32_t __stack_limit[];

namespace
{

using fwvectors::Call;

constexpr uint32_t kStackPaint = 0x5AA5C33Cu;

uint32_t stack_pointer()
{
    uint32_t sp;
    __asm__ volatile("mov %0, sp" : "=r"(sp));
    return sp;
}

// Fills the free stack below the caller's frame with a pattern.
__attribute__((noinline)) void paint_stack()
{
    uint32_t *end = reinterpret_cast<uint32_t *>(stack_pointer() - 64u);
    for (uint32_t *word = __stack_limit; word < end; ++word)
        *word = kStackPaint;
}

// Lowest stack address written since paint_stack().
uint32_t lowest_stack_written()
{
    const uint32_t *word = __stack_limit;
    while (*word == kStackPaint)
        ++word;
    return reinterpret_cast<uintptr_t>(word);
}

struct CallStatistics {
    uint32_t count;
    uint64_t total;
    uint64_t max;
    uint64_t min;
};

// Appends text and numbers to a fixed buffer (no stdio on the target).
class TextBuffer
{
  public:
    void append(const char *text)
    {
        while (*text != '\0' && length_ + 1 < sizeof text_)
            text_[length_++] = *text++;
        text_[length_] = '\0';
    }
    void append(uint64_t value)
    {
        char digits[21];
        size_t position = sizeof digits - 1;
        digits[position] = '\0';
        do {
            digits[--position] = (char)('0' + value % 10u);
            value /= 10u;
        } while (value != 0u);
        append(&digits[position]);
    }
    const char *text() const
    {
        return text_;
    }
    size_t length() const
    {
        return length_;
    }

  private:
    char text_[8192] = {};
    size_t length_ = 0;
};

class FirmwareObserver final : public fwvectors::RunObserver
{
  public:
    bool open(const char *scenario_name)
    {
        char path[64] = {};
        strncpy(path, scenario_name, sizeof path - 5);
        strcat(path, ".out");
        file_ = semihost_open_write(path);
        pending_ = 0;
        memset(statistics_, 0, sizeof statistics_);
        call_site_sp_ = 0;
        return file_ >= 0;
    }

    bool close()
    {
        bool flushed = flush();
        return semihost_close(file_) == 0 && flushed;
    }

    uint32_t now() override
    {
        // The stack pointer here lies just below the frame of the library call's
        // caller; the library's own stack use starts beneath it.
        call_site_sp_ = stack_pointer();
        return instruction_counter_ticks();
    }

    uint32_t call_site_sp() const
    {
        return call_site_sp_;
    }

    void timed(Call call, uint32_t start, uint32_t end) override
    {
        uint64_t instructions = instruction_counter_elapsed(start, end);
        CallStatistics &s = statistics_[(int)call];
        if (s.count == 0 || instructions < s.min)
            s.min = instructions;
        if (instructions > s.max)
            s.max = instructions;
        s.total += instructions;
        ++s.count;
    }

    bool output(const void *data, size_t bytes) override
    {
        const uint8_t *from = static_cast<const uint8_t *>(data);
        while (bytes > 0) {
            size_t take = sizeof buffer_ - pending_ < bytes ? sizeof buffer_ - pending_ : bytes;
            memcpy(buffer_ + pending_, from, take);
            pending_ += take;
            from += take;
            bytes -= take;
            if (pending_ == sizeof buffer_ && !flush())
                return false;
        }
        return true;
    }

    // One line per timed call: scenario call count total max min.
    void report(const char *scenario_name, TextBuffer &counts) const
    {
        for (int c = 0; c < (int)Call::Count; ++c) {
            const CallStatistics &s = statistics_[c];
            if (s.count == 0)
                continue;
            counts.append(scenario_name);
            counts.append(" ");
            counts.append(fwvectors::call_name((Call)c));
            counts.append(" ");
            counts.append((uint64_t)s.count);
            counts.append(" ");
            counts.append(s.total);
            counts.append(" ");
            counts.append(s.max);
            counts.append(" ");
            counts.append(s.min);
            counts.append("\n");
        }
    }

  private:
    bool flush()
    {
        bool written = pending_ == 0 || semihost_write(file_, buffer_, pending_) == 0;
        pending_ = 0;
        return written;
    }

    int32_t file_ = -1;
    uint32_t call_site_sp_ = 0;
    uint8_t buffer_[16384];
    size_t pending_ = 0;
    CallStatistics statistics_[(int)Call::Count];
};

FirmwareObserver g_observer;
TextBuffer g_counts;

bool write_counts()
{
    int32_t file = semihost_open_write("counts.txt");
    if (file < 0)
        return false;
    bool written = semihost_write(file, g_counts.text(), g_counts.length()) == 0;
    return semihost_close(file) == 0 && written;
}

} // namespace

int main()
{
    uint32_t per_kilotick = instruction_counter_start();
    semihost_print("instructions per 1000 timer ticks: ");
    semihost_print_u32(per_kilotick);
    semihost_print("\n");
    g_counts.append("# instructions per 1000 timer ticks ");
    g_counts.append((uint64_t)per_kilotick);
    g_counts.append("\n");

    int failures = 0;
    for (size_t i = 0; i < fwvectors::kScenarioCount; ++i) {
        const fwvectors::Scenario &scenario = fwvectors::kScenarios[i];
        semihost_print(scenario.name);
        bool ok = g_observer.open(scenario.name);
        paint_stack();
        ok = fwvectors::run_scenario(scenario, g_observer) && ok;
        uint32_t lowest = lowest_stack_written();
        ok = g_observer.close() && ok;
        g_observer.report(scenario.name, g_counts);
        // "#stack scenario bytes": deepest stack below the calls' site, for
        // the scenarios that time their calls (the others have no site).
        if (g_observer.call_site_sp() != 0) {
            g_counts.append("#stack ");
            g_counts.append(scenario.name);
            g_counts.append(" ");
            g_counts.append((uint64_t)(g_observer.call_site_sp() - lowest));
            g_counts.append("\n");
        }
        semihost_print(ok ? ": done\n" : ": FAILED\n");
        failures += ok ? 0 : 1;
    }
    if (!write_counts()) {
        semihost_print("cannot write counts.txt\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
