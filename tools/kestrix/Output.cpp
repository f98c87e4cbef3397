#include "Output.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix::cli {

TDescriptorBuf::TDescriptorBuf(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

TDescriptorBuf::~TDescriptorBuf() { Drain(); }

bool TDescriptorBuf::WriteAll(const char* data, std::size_t size) {
    if (error_ != 0) return false;
    while (size > 0) {
        const ssize_t written = write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool TDescriptorBuf::Drain() {
    const bool ok = WriteAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return ok;
}

TDescriptorBuf::int_type TDescriptorBuf::overflow(int_type c) {
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize TDescriptorBuf::xsputn(const char* data, std::streamsize size) {
    if (error_ != 0) return 0;
    const auto n = static_cast<std::size_t>(size);
    if (n <= static_cast<std::size_t>(epptr() - pptr())) {
        std::memcpy(pptr(), data, n);
        pbump(static_cast<int>(n));
        return size;
    }
    // A block larger than the room left goes out directly, without a copy.
    if (!Drain() || !WriteAll(data, n)) return 0;
    return size;
}

int TDescriptorBuf::sync() { return Drain() ? 0 : -1; }

void ReportWriteFailure(const std::string& name, int error) {
    if (error == EPIPE) return;
    std::cerr << "kestrix: " << name << ": writing failed: " << std::strerror(error) << '\n';
}

namespace {

// The temporary file of a run in progress, removed when a signal ends the
// run; a plain array, as a signal handler may only read memory.
char gTemporary[4096];
volatile std::sig_atomic_t gHaveTemporary = 0;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryAndDie(int signal) {
    if (gHaveTemporary != 0) unlink(gTemporary);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void Forget() {
    gHaveTemporary = 0;
    for (const int signal : kEndingSignals) std::signal(signal, SIG_DFL);
}

FileIdentity Identity(const struct stat& status) {
    FileIdentity identity;
    identity.known = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.regular = S_ISREG(status.st_mode);
    return identity;
}

}  // namespace

FileIdentity IdentifyPath(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? Identity(status) : FileIdentity{};
}

FileIdentity IdentifyDescriptor(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 ? Identity(status) : FileIdentity{};
}

TOutputFile::~TOutputFile() { Discard(); }

bool TOutputFile::Open(const std::string& path, std::string& problem) {
    // Through a symbolic link the file replaced is its target: the link stays.
    target_ = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target_ = resolved;
        std::free(resolved);
    }
    struct stat status {};
    const bool exists = stat(target_.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) {
        problem = path + ": is a directory";
        return false;
    }
    int openError = 0;
    if (exists && !S_ISREG(status.st_mode)) {
        fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        openError = errno;
    } else {
        const auto slash = target_.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        temporary_ = folder + "." + name + ".kestrix-XXXXXX";
        if (temporary_.size() >= sizeof gTemporary) {
            problem = path + ": the name is too long";
            temporary_.clear();
            return false;
        }
        // A signal between the file's making and the handler's setting would
        // leave the file behind: it waits until the handler is set.
        sigset_t ending, previous;
        sigemptyset(&ending);
        for (const int signal : kEndingSignals) sigaddset(&ending, signal);
        sigprocmask(SIG_BLOCK, &ending, &previous);
        fd_ = mkstemp(temporary_.data());
        openError = errno;
        if (fd_ >= 0) {
            // The replacement keeps the permissions of the file it replaces, or
            // takes those a new file gets.
            mode_t mode = 0;
            if (exists) {
                mode = status.st_mode & 07777;
            } else {
                const mode_t mask = umask(0);
                umask(mask);
                mode = 0666 & ~mask;
            }
            fchmod(fd_, mode);
            std::memcpy(gTemporary, temporary_.c_str(), temporary_.size() + 1);
            gHaveTemporary = 1;
            for (const int signal : kEndingSignals) std::signal(signal, RemoveTemporaryAndDie);
        } else {
            temporary_.clear();
        }
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
    if (fd_ < 0) {
        problem = path + ": cannot be written: " + std::strerror(openError);
        return false;
    }
    buffer_ = new TDescriptorBuf(fd_);
    return true;
}

bool TOutputFile::Commit(int& error) {
    error = 0;
    if (buffer_->pubsync() != 0) error = buffer_->Error();
    if (error == 0 && close(fd_) != 0) error = errno;
    fd_ = -1;
    if (error == 0 && !temporary_.empty() && rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    if (error != 0) {
        Discard();
        return false;
    }
    temporary_.clear();
    Forget();
    return true;
}

void TOutputFile::Discard() {
    delete buffer_;
    buffer_ = nullptr;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
        Forget();
    }
}

}  // namespace kestrix::cli
