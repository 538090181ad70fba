// A pseudo-terminal for the virtual pack: the pack reads and writes the
// master side; the tool opens the slave path like a serial port. The pack
// keeps a slave descriptor of its own open so that the master never sees a
// hang-up when the tool closes and reopens the port.
#pragma once

#include <string>

namespace bms::sim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens the pair and puts the slave in raw mode. Throws std::runtime_error.
    void open();
    void close();

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Publishes the slave as <RuntimePortDir()>/virtual-pack-<name> (folder
    // created with mode 0700; an older link of that name is replaced) and
    // returns the link path; empty when it could not be published.
    std::string publish(const std::string& name);
    // Removes the link if it still points to this slave.
    void unpublish();
    const std::string& linkPath() const { return link_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string link_;
};

} // namespace bms::sim
