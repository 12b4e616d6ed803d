// Safe handling of the host tools' files: an output that is one of the
// inputs is refused, outputs are written to a temporary file in their own
// folder and renamed into place only when complete, inputs that could
// block (FIFOs, devices) can be refused, and a whole file can be read.
#ifndef HALVANE_TOOLS_OUTPUT_FILES_H
#define HALVANE_TOOLS_OUTPUT_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace toolfiles
{

// True when both paths name one existing file (same device and inode, so
// links and other spellings of a path count).
bool same_file(const std::string& a, const std::string& b);

// Empty when `output` is none of `inputs`, else a message naming both.
std::string refuse_output_among_inputs(const std::string& output,
                                       const std::vector<std::string>& inputs);

// Empty when `path` is an existing regular file (following links), else a
// message: missing, or a FIFO, device or folder that a read could block on
// or that holds no file data.
std::string require_regular_file(const std::string& path);

// Every byte of a file; false when it cannot be opened or read (a folder).
bool read_bytes(const std::string& path, std::vector<uint8_t>& bytes);

// An output being written: a temporary file beside the final path, renamed
// over it by commit() and removed if never committed.
class PendingOutput
{
  public:
    explicit PendingOutput(const std::string& path);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Empty when the temporary file was created, else why not.
    const std::string& error() const { return error_; }
    // The final path.
    const std::string& path() const { return path_; }
    // Where to write the content.
    const std::string& temp_path() const { return temp_; }
    // Moves the temporary file to the final path; empty on success.
    std::string commit();

  private:
    std::string path_;
    std::string temp_;
    std::string error_;
    bool committed_ = false;
};

} // namespace toolfiles

#endif
