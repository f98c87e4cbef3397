#include "Progress.h"

#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace kestrix::cli {

namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

// "1:05:09" or "5:09".
std::string Clock(double seconds) {
    const auto total = static_cast<long long>(std::llround(seconds));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

}  // namespace

std::string ProgressLine(std::uint64_t rows, std::uint64_t bytes, std::uint64_t totalBytes, double seconds) {
    std::string line;
    char text[96];
    if (totalBytes > 0) {
        const double done = std::fmin(1.0, static_cast<double>(bytes) / static_cast<double>(totalBytes));
        const int filled = static_cast<int>(done * kBarWidth);
        std::snprintf(text, sizeof text, "%3d%% [", static_cast<int>(done * 100));
        line = text;
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
        line += "] ";
    }
    std::snprintf(text, sizeof text, "%llu rows", static_cast<unsigned long long>(rows));
    line += text;
    if (seconds > 0) {
        std::snprintf(text, sizeof text, "  %.0f rows/s", static_cast<double>(rows) / seconds);
        line += text;
    }
    if (totalBytes > 0 && bytes > 0 && bytes < totalBytes) {
        const double left = seconds * static_cast<double>(totalBytes - bytes) / static_cast<double>(bytes);
        line += "  ETA " + Clock(left);
    }
    return line;
}

TProgressBar::TProgressBar(std::ostream& out, std::uint64_t totalBytes)
    : out_(out), totalBytes_(totalBytes), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

void TProgressBar::Update(std::uint64_t rows, std::uint64_t bytes) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kRedrawEvery) return;
    lastDraw_ = now;
    Draw(rows, bytes);
}

void TProgressBar::Clear() {
    if (!shown_) return;
    out_ << "\r\033[K" << std::flush;
    shown_ = false;
}

void TProgressBar::Finish(std::uint64_t rows, std::uint64_t bytes) {
    Draw(rows, bytes);
    out_ << '\n' << std::flush;
    shown_ = false;
}

void TProgressBar::Draw(std::uint64_t rows, std::uint64_t bytes) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    out_ << "\r\033[K" << ProgressLine(rows, bytes, totalBytes_, seconds) << std::flush;
    shown_ = true;
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

}  // namespace kestrix::cli
