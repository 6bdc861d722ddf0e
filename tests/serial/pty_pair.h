// A pseudo-terminal pair for serial tests: the channel opens the terminal
// side by its path, the test plays the machine on the controlling side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mub::test {

class PtyPair {
public:
    PtyPair();  // fails the test when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& devicePath() const { return path_; }
    int master() const { return master_; }

    // Writes all bytes to the terminal side's input.
    void write(const std::vector<std::uint8_t>& bytes);
    void write(const std::string& text) { write(std::vector<std::uint8_t>(text.begin(), text.end())); }
    // Closes the controlling side: the terminal side is hung up, as a
    // USB-serial adapter is when it is unplugged.
    void hangUp();
    // Reads what the channel sent until `count` bytes came or `timeoutMs` passed.
    std::vector<std::uint8_t> read(std::size_t count, int timeoutMs = 2000);

private:
    int master_ = -1;
    std::string path_;
};

} // namespace mub::test
