// The board's end of a pseudo-terminal, published as <temp dir>/halvane/COMn
// (a symbolic link to the device the panel opens). A lock file held for the
// board's lifetime keeps two boards off the same port number; a link left
// behind by a board that died is replaced.
#pragma once

#include <string>

std::string CleanPath(const std::string& path);

class PseudoTerminal
{
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens the terminal pair in raw mode and publishes it for port number
    // port. On failure returns false with a reason in error.
    bool Open(int port, std::string& error);
    // Removes the link and the lock, closes the terminal.
    void Close();

    int MasterFd() const { return master; }
    const std::string& DevicePath() const { return device; }
    const std::string& LinkPath() const { return link; }

    // The temp directory as Qt reports it: $TMPDIR when set, else /tmp,
    // cleaned of "." and ".." components and redundant slashes.
    static std::string TempDir();

  private:
    int master = -1;
    int slave = -1; // kept open so the master never sees a hang-up
    int lock = -1;
    std::string device;
    std::string link;
    std::string lockPath;
};
