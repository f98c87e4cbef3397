// Where the command's output goes, so that no run loses data: writes that
// fail are noticed at once, and a file given with -o is replaced only when
// the run completes.
#pragma once

#include <streambuf>
#include <string>

namespace kestrix::cli {

// A stream buffer over a file descriptor that remembers the first failed
// write: every write after it fails too, so the stream goes bad and the
// command stops instead of producing work nobody receives.
class TDescriptorBuf : public std::streambuf {
public:
    explicit TDescriptorBuf(int fd);
    ~TDescriptorBuf() override;
    TDescriptorBuf(const TDescriptorBuf&) = delete;
    TDescriptorBuf& operator=(const TDescriptorBuf&) = delete;

    // errno of the first failed write, 0 while none failed.
    int Error() const { return error_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;
    int sync() override;

private:
    bool Drain();
    bool WriteAll(const char* data, std::size_t size);

    int fd_;
    int error_ = 0;
    char buffer_[1 << 16];
};

// Says on stderr why writing `name` failed, unless the reader went away (a
// closed pipe ends the run quietly, as `| head` expects).
void ReportWriteFailure(const std::string& name, int error);

// The file of -o, written as a temporary file beside it (beside the target of
// a symbolic link) and renamed into place by Commit: a run that fails or is
// interrupted leaves whatever was there before. A device or a pipe (as
// /dev/null) is written directly.
class TOutputFile {
public:
    TOutputFile() = default;
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // False with `problem` set when the file cannot be written.
    bool Open(const std::string& path, std::string& problem);
    std::streambuf* Buffer() { return buffer_; }
    // Flushes and puts the file in place; false with the errno of the failure.
    bool Commit(int& error);

private:
    void Discard();

    std::string target_;     // the file replaced
    std::string temporary_;  // empty when writing the target directly
    int fd_ = -1;
    TDescriptorBuf* buffer_ = nullptr;
};

// A file's identity, to tell when two names (or a name and a descriptor) are
// the same file; `known` is false when there is no such file.
struct FileIdentity {
    bool known = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool regular = false;

    bool Same(const FileIdentity& other) const {
        return known && other.known && device == other.device && inode == other.inode;
    }
};
FileIdentity IdentifyPath(const std::string& path);  // follows symbolic links
FileIdentity IdentifyDescriptor(int fd);

}  // namespace kestrix::cli
