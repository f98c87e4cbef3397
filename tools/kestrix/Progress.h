// A one-line progress bar for long runs: share done, rows, rate and time
// left, redrawn in place on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace kestrix::cli {

// The text of the bar (no line control): the share done and the time left
// only when the size of the input is known (`totalBytes` > 0).
std::string ProgressLine(std::uint64_t rows, std::uint64_t bytes, std::uint64_t totalBytes, double seconds);

class TProgressBar {
public:
    TProgressBar(std::ostream& out, std::uint64_t totalBytes);

    // Redraws at most a few times a second.
    void Update(std::uint64_t rows, std::uint64_t bytes);
    // Takes the bar off the line so that a message can be written there.
    void Clear();
    // Draws the final state and ends the line.
    void Finish(std::uint64_t rows, std::uint64_t bytes);

private:
    void Draw(std::uint64_t rows, std::uint64_t bytes);

    std::ostream& out_;
    std::uint64_t totalBytes_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool shown_ = false;
};

// True when the stream's file descriptor is a terminal.
bool IsTerminal(int fd);

}  // namespace kestrix::cli
