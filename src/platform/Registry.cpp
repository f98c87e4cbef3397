#include "platform/Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The store file, one line each, every line ending in a newline:
//
//   KESTRIX REGISTRY 1
//   [CLSID\{...}\InprocServer32]
//   @="/usr/lib/libkestrix.so"
//   "ThreadingModel"="Apartment"
//   END
//
// A key line names a key by its full path; the value lines after it belong to
// it ("@" is the default value). Quoted text escapes \" \\ \n \r \t and other
// control characters as \xHH. Blank lines and lines starting with ';' are
// ignored. The trailer makes a file cut short at a line break detectable.

struct REGTRANSACTION {
    struct TChange {
        enum class Kind { CreateKey, SetValue, DeleteTree } kind;
        std::string key, name, data;
    };
    std::vector<TChange> changes;
};

namespace {

using TChange = REGTRANSACTION::TChange;

constexpr HRESULT kCorrupt = HRESULT_FROM_WIN32(ERROR_BADDB);
constexpr std::string_view kHeader = "KESTRIX REGISTRY 1";
constexpr std::string_view kTrailer = "END";
constexpr const char* kPlatformKey = sizeof(void*) == 8 ? "linux64" : "linux32";
// A store holds a few dozen keys; a file past this size is not one we wrote,
// and reading it whole would cost every caller the time and memory it takes.
constexpr off_t kMaxStoreSize = 1 << 20;
// How long a writer waits for another's lock before giving up.
constexpr std::chrono::seconds kLockWait{3};

// Why the thread's last registry operation failed, when its HRESULT alone
// does not say.
thread_local std::string failureText;

std::string Fold(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

struct TValue {
    std::string name;
    std::string data;
};

struct TKey {
    std::string path;                     // as first written
    std::map<std::string, TValue> values;  // by folded name; the default value ("") sorts first
};

// Keys by folded path; every key's parent is present too.
using TStore = std::map<std::string, TKey>;

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool ValidKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    char previous = 0;
    for (const char c : path) {
        if (IsControl(c) || (c == '\\' && previous == '\\')) return false;
        previous = c;
    }
    return true;
}

// The key at `path`, created with every missing key above it; a new key is
// spelled after its parent's spelling.
TKey& EnsureKey(TStore& store, std::string_view path) {
    TKey* key = nullptr;
    std::size_t end = 0;
    do {
        const std::size_t start = end == 0 ? 0 : end + 1;
        end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        const auto [it, inserted] = store.try_emplace(Fold(path.substr(0, end)));
        if (inserted) {
            const std::string_view name = path.substr(start, end - start);
            it->second.path = key == nullptr ? std::string(name) : key->path + '\\' + std::string(name);
        }
        key = &it->second;
    } while (end != path.size());
    return *key;
}

// True when the store changed.
bool SetValue(TKey& key, std::string_view name, std::string_view data) {
    const auto [it, inserted] = key.values.try_emplace(Fold(name), TValue{std::string(name), std::string(data)});
    if (inserted) return true;
    if (it->second.data == data) return false;
    it->second.data = data;
    return true;
}

bool Apply(TStore& store, const TChange& change) {
    const std::size_t keysBefore = store.size();
    switch (change.kind) {
        case TChange::Kind::CreateKey:
            EnsureKey(store, change.key);
            return store.size() != keysBefore;
        case TChange::Kind::SetValue: {
            const bool changed = SetValue(EnsureKey(store, change.key), change.name, change.data);
            return changed || store.size() != keysBefore;
        }
        case TChange::Kind::DeleteTree: {
            const std::string folded = Fold(change.key);
            if (store.erase(folded) == 0) return false;  // no key, so no subkeys either
            const std::string below = folded + '\\';
            auto it = store.lower_bound(below);
            while (it != store.end() && it->first.starts_with(below)) it = store.erase(it);
            return true;
        }
    }
    return false;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (IsControl(c)) {
                    char escaped[5];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the quoted text at line[pos] and moves pos past it; false when there
// is none or it is malformed.
bool ReadQuoted(std::string_view line, std::size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        // Stored texts are C strings: a raw NUL was never written either, and
        // taken in it would be written back as an escape this reader refuses.
        if (c == '\0') return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos == line.size()) return false;
        switch (line[pos]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                if (pos + 2 >= line.size()) return false;
                const int high = HexDigit(line[pos + 1]);
                const int low = HexDigit(line[pos + 2]);
                // Stored texts are C strings: a NUL was never written.
                if (high < 0 || low < 0 || high + low == 0) return false;
                out += static_cast<char>(high * 16 + low);
                pos += 2;
                break;
            }
            default: return false;
        }
    }
    return false;
}

HRESULT ParseStore(std::string_view text, TStore& store) {
    if (text.empty()) return S_OK;  // made by hand (touch) or by another tool: nothing registered yet
    if (text.back() != '\n') return kCorrupt;
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // tolerate a hand edit's CRLF
        lines.push_back(line);
        start = end + 1;
    }
    if (lines.size() < 2 || lines.front() != kHeader || lines.back() != kTrailer) return kCorrupt;

    TKey* key = nullptr;
    std::string name, data;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']' || !ValidKeyPath(line.substr(1, line.size() - 2))) return kCorrupt;
            key = &EnsureKey(store, line.substr(1, line.size() - 2));
            continue;
        }
        std::size_t pos = 0;
        if (line.front() == '@') {
            name.clear();
            pos = 1;
        } else if (!ReadQuoted(line, pos, name)) {
            return kCorrupt;
        }
        if (key == nullptr || pos >= line.size() || line[pos] != '=') return kCorrupt;
        ++pos;
        if (!ReadQuoted(line, pos, data) || pos != line.size()) return kCorrupt;
        SetValue(*key, name, data);
    }
    return S_OK;
}

std::string Serialize(const TStore& store) {
    std::string text(kHeader);
    text += '\n';
    for (const auto& [folded, key] : store) {
        text += '[' + key.path + "]\n";
        for (const auto& [foldedName, value] : key.values) {
            if (value.name.empty()) {
                text += '@';
            } else {
                AppendQuoted(text, value.name);
            }
            text += '=';
            AppendQuoted(text, value.data);
            text += '\n';
        }
    }
    text += kTrailer;
    text += '\n';
    return text;
}

HRESULT FromErrno(int error, HRESULT otherwise) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS: return E_ACCESSDENIED;
        case ENOENT:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        case ENOSPC:
        case EDQUOT: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        case ENOMEM: return E_OUTOFMEMORY;
        default: return otherwise;
    }
}

HRESULT StorePath(std::string& path) {
    const char* chosen = std::getenv("KESTRIX_REGISTRY");
    if (chosen != nullptr && chosen[0] != '\0') {
        path = chosen;
        return S_OK;
    }
    // A relative XDG_CONFIG_HOME is to be ignored, as the base-directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        path = std::string(config) + "/kestrix/registry";
        return S_OK;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        path = std::string(home) + "/.config/kestrix/registry";
        return S_OK;
    }
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file `path` names once symbolic links at its last component are
// followed (the folders above it resolve by themselves), and the folder of
// every name on the way: a store kept through a link is replaced at its
// target, and the link's folder matters as much as the target's.
HRESULT ResolveStore(const std::string& path, std::string& resolved, std::vector<std::string>* folders = nullptr) {
    resolved = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (folders != nullptr) folders->push_back(FolderOf(resolved));
        char target[PATH_MAX];
        const ssize_t length = ::readlink(resolved.c_str(), target, sizeof target);
        if (length < 0) {
            // Not a link, or nothing there yet: this is the file.
            if (errno == EINVAL || errno == ENOENT || errno == ENOTDIR) return S_OK;
            return FromErrno(errno, REGDB_E_READREGDB);
        }
        if (static_cast<std::size_t>(length) == sizeof target) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        std::string next(target, static_cast<std::size_t>(length));
        resolved = next.front() == '/' ? next : FolderOf(resolved) + '/' + next;
    }
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);  // a loop of links
}

// Empty when the file or folder `path`, of status `status`, belongs to the
// user or root and no one else may write to it; else why it is not trusted.
std::string Distrust(const char* what, const std::string& path, const struct stat& status) {
    if (status.st_uid != ::geteuid() && status.st_uid != 0) {
        return std::string("the registry ") + what + " " + path + " belongs to user " +
               std::to_string(status.st_uid) + ", neither you nor root";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        return std::string("the registry ") + what + " " + path + " may be written by others (mode " + mode + ")";
    }
    return {};
}

// The store as last read by this process, kept while the file stays the
// same (device, inode, size, modification time): most calls, failing calls
// looking up their error's source among them, then cost one stat.
struct TSnapshot {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    HRESULT hr = S_OK;
    std::shared_ptr<const TStore> store;

    bool Describes(const std::string& file, const struct stat& status) const {
        return path == file && device == status.st_dev && inode == status.st_ino && size == status.st_size &&
               modified.tv_sec == status.st_mtim.tv_sec && modified.tv_nsec == status.st_mtim.tv_nsec;
    }
};

struct TSnapshotCache {
    std::mutex lock;
    TSnapshot snapshot;
};

TSnapshotCache& SnapshotCache() {
    static TSnapshotCache cache;
    return cache;
}

const std::shared_ptr<const TStore>& EmptyStore() {
    static const std::shared_ptr<const TStore> empty = std::make_shared<const TStore>();
    return empty;
}

// A file changed within the clock's granularity of being read may change
// again without its modification time moving: such a reading is not kept.
bool Settled(const struct stat& status) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return status.st_mtim.tv_sec + 1 < now.tv_sec;
}

// The store at `path`, with the file's status (st_nlink 0 when there is no
// file: nothing has been registered yet).
HRESULT ReadStore(const std::string& path, std::shared_ptr<const TStore>& store, struct stat& status) {
    store = EmptyStore();
    if (::stat(path.c_str(), &status) != 0) {
        status = {};
        // No file, or no folder for one: nothing has been registered yet.
        if (errno == ENOENT || errno == ENOTDIR) return S_OK;
        return FromErrno(errno, REGDB_E_READREGDB);
    }
    // Not a file (a FIFO would hang the reader), or far larger than any store.
    if (!S_ISREG(status.st_mode) || status.st_size > kMaxStoreSize) return kCorrupt;
    TSnapshotCache& cache = SnapshotCache();
    {
        const std::lock_guard guard(cache.lock);
        if (cache.snapshot.Describes(path, status)) {
            store = cache.snapshot.store;
            return cache.snapshot.hr;
        }
    }

    // Non-blocking, so something swapped in after the stat cannot hang the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            status = {};
            return S_OK;
        }
        return FromErrno(errno, REGDB_E_READREGDB);
    }
    HRESULT hr = ::fstat(fd, &status) != 0                                   ? FromErrno(errno, REGDB_E_READREGDB)
                 : !S_ISREG(status.st_mode) || status.st_size > kMaxStoreSize ? kCorrupt
                                                                              : S_OK;
    std::string text;
    char buffer[8192];
    while (SUCCEEDED(hr)) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
            if (text.size() > static_cast<std::size_t>(kMaxStoreSize)) hr = kCorrupt;  // grew while read
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            hr = FromErrno(errno, REGDB_E_READREGDB);
        }
    }
    ::close(fd);
    if (FAILED(hr) && hr != kCorrupt) return hr;  // a failure to read says nothing about the file
    auto parsed = std::make_shared<TStore>();
    if (SUCCEEDED(hr)) hr = ParseStore(text, *parsed);
    if (SUCCEEDED(hr)) store = parsed;
    if (Settled(status)) {
        const std::lock_guard guard(cache.lock);
        cache.snapshot = {path, status.st_dev, status.st_ino, status.st_size, status.st_mtim, hr, store};
    }
    return hr;
}

HRESULT MakeFolders(const std::string& path) {
    const std::string storeFolder = FolderOf(path);
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0755) == 0) continue;
        if (errno != EEXIST) return FromErrno(errno, REGDB_E_WRITEREGDB);
        // The store's own folder, made by someone else before us, is not
        // taken over: whoever owns it could swap the store under us.
        struct stat status {};
        if (folder == storeFolder && ::stat(folder.c_str(), &status) == 0 && status.st_uid != ::geteuid() &&
            status.st_uid != 0) {
            failureText = "the registry folder " + folder + " belongs to user " + std::to_string(status.st_uid) +
                          ", neither you nor root: it is not used";
            return E_ACCESSDENIED;
        }
    }
    return S_OK;
}

// The store's write lock, held from Acquire to destruction; the lock file
// stays, as removing it would race with the next writer.
class TWriteLock {
public:
    TWriteLock() = default;
    TWriteLock(const TWriteLock&) = delete;
    TWriteLock& operator=(const TWriteLock&) = delete;
    ~TWriteLock() {
        if (fd_ >= 0) ::close(fd_);
    }

    HRESULT Acquire(const std::string& storePath) {
        const HRESULT hr = MakeFolders(storePath);
        if (FAILED(hr)) return hr;
        const std::string lockPath = storePath + ".lock";
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd_ < 0) return FromErrno(errno, REGDB_E_WRITEREGDB);
        // Polled rather than waited for, so a lock never released (a stopped
        // writer, a hand-held lock) ends the wait instead of the caller.
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return S_OK;
            if (errno != EWOULDBLOCK && errno != EINTR) return FromErrno(errno, REGDB_E_WRITEREGDB);
            if (std::chrono::steady_clock::now() >= deadline) {
                failureText = "another process holds the registry's lock " + lockPath + "; gave up after " +
                              std::to_string(kLockWait.count()) + " seconds";
                return HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
            }
            ::usleep(2000);
        }
    }

private:
    int fd_ = -1;
};

// A new store is written beside the old one as path + kNewSuffix + six
// characters, then renamed into place.
constexpr std::string_view kNewSuffix = ".new-";

// Removes the new stores a writer killed before its rename left behind. Only
// the lock's holder writes one, so under the lock any that exists is stale.
void RemoveAbandonedStores(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = FolderOf(path);
    const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + std::string(kNewSuffix);
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) {
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
        }
    }
    ::closedir(directory);
}

HRESULT WriteStore(const std::string& path, const TStore& store) {
    const std::string text = Serialize(store);
    // Written, it would read back as damaged.
    if (text.size() > static_cast<std::size_t>(kMaxStoreSize)) {
        failureText = "the registry would grow past its limit of " + std::to_string(kMaxStoreSize) + " bytes";
        return HRESULT_FROM_WIN32(ERROR_REGISTRY_QUOTA_LIMIT);
    }
    RemoveAbandonedStores(path);
    std::string temporary = path + std::string(kNewSuffix) + "XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return FromErrno(errno, REGDB_E_WRITEREGDB);
    HRESULT hr = S_OK;
    for (std::size_t written = 0; SUCCEEDED(hr) && written < text.size();) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count >= 0) {
            written += static_cast<std::size_t>(count);
        } else if (errno != EINTR) {
            hr = FromErrno(errno, REGDB_E_WRITEREGDB);
        }
    }
    // On disk before the rename, so a crash cannot leave an empty store.
    if (SUCCEEDED(hr) && ::fsync(fd) != 0) hr = FromErrno(errno, REGDB_E_WRITEREGDB);
    if (::close(fd) != 0 && SUCCEEDED(hr)) hr = FromErrno(errno, REGDB_E_WRITEREGDB);
    if (SUCCEEDED(hr) && ::rename(temporary.c_str(), path.c_str()) != 0) hr = FromErrno(errno, REGDB_E_WRITEREGDB);
    if (FAILED(hr)) ::unlink(temporary.c_str());
    return hr;
}

// Applies `changes` in order to the store as it stands: S_OK when it was
// rewritten, S_FALSE when nothing changed (and nothing was written).
HRESULT Update(std::span<const TChange> changes) {
    failureText.clear();
    std::string path;
    HRESULT hr = StorePath(path);
    if (SUCCEEDED(hr)) hr = ResolveStore(path, path);
    if (FAILED(hr)) return hr;
    TWriteLock lock;
    hr = lock.Acquire(path);
    if (FAILED(hr)) return hr;
    std::shared_ptr<const TStore> current;
    struct stat status {};
    hr = ReadStore(path, current, status);
    if (FAILED(hr)) return hr;
    TStore store = *current;
    bool changed = false;
    for (const TChange& change : changes) changed = Apply(store, change) || changed;
    return changed ? WriteStore(path, store) : S_FALSE;
}

HRESULT Load(std::shared_ptr<const TStore>& store, struct stat& status) {
    failureText.clear();
    std::string path;
    const HRESULT hr = StorePath(path);
    return FAILED(hr) ? hr : ReadStore(path, store, status);
}

HRESULT Load(std::shared_ptr<const TStore>& store) {
    struct stat status {};
    return Load(store, status);
}

HRESULT Submit(TChange change, HREGTRANSACTION transaction) {
    if (transaction == nullptr) return Update(std::span(&change, 1));
    transaction->changes.push_back(std::move(change));
    return S_OK;
}

template <typename F>
HRESULT Guarded(F body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CopyOut(std::string_view text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

std::string GuidText(REFGUID guid) {
    OLECHAR text[kGuidStringLength];
    StringFromGUID2(guid, text, kGuidStringLength);
    return text;
}

}  // namespace

HRESULT RegistryBeginTransaction(HREGTRANSACTION* transaction) noexcept {
    if (transaction == nullptr) return E_INVALIDARG;
    *transaction = new (std::nothrow) REGTRANSACTION;
    return *transaction == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT RegistryCommitTransaction(HREGTRANSACTION transaction) noexcept {
    if (transaction == nullptr) return E_INVALIDARG;
    const HRESULT hr = Guarded([&] { return Update(transaction->changes); });
    delete transaction;
    return SUCCEEDED(hr) ? S_OK : hr;
}

void RegistryRollbackTransaction(HREGTRANSACTION transaction) noexcept { delete transaction; }

HRESULT RegistryCreateKey(LPCOLESTR keyPath, HREGTRANSACTION transaction) noexcept {
    if (keyPath == nullptr || !ValidKeyPath(keyPath)) return E_INVALIDARG;
    return Guarded([&] {
        const HRESULT hr = Submit({TChange::Kind::CreateKey, keyPath, {}, {}}, transaction);
        return SUCCEEDED(hr) ? S_OK : hr;
    });
}

HRESULT RegistryOpenKey(LPCOLESTR keyPath) noexcept {
    if (keyPath == nullptr || !ValidKeyPath(keyPath)) return E_INVALIDARG;
    return Guarded([&] {
        std::shared_ptr<const TStore> store;
        const HRESULT hr = Load(store);
        if (FAILED(hr)) return hr;
        return store->contains(Fold(keyPath)) ? S_OK : REGDB_E_KEYMISSING;
    });
}

HRESULT RegistrySetValue(LPCOLESTR keyPath, LPCOLESTR valueName, LPCOLESTR data,
                         HREGTRANSACTION transaction) noexcept {
    if (keyPath == nullptr || !ValidKeyPath(keyPath) || data == nullptr) return E_INVALIDARG;
    return Guarded([&] {
        const HRESULT hr =
            Submit({TChange::Kind::SetValue, keyPath, valueName == nullptr ? "" : valueName, data}, transaction);
        return SUCCEEDED(hr) ? S_OK : hr;
    });
}

HRESULT RegistryQueryValue(LPCOLESTR keyPath, LPCOLESTR valueName, BSTR* data) noexcept {
    if (keyPath == nullptr || !ValidKeyPath(keyPath) || data == nullptr) return E_INVALIDARG;
    *data = nullptr;
    return Guarded([&] {
        std::shared_ptr<const TStore> store;
        const HRESULT hr = Load(store);
        if (FAILED(hr)) return hr;
        const auto key = store->find(Fold(keyPath));
        if (key == store->end()) return REGDB_E_KEYMISSING;
        const auto value = key->second.values.find(Fold(valueName == nullptr ? "" : valueName));
        if (value == key->second.values.end()) return REGDB_E_KEYMISSING;
        return CopyOut(value->second.data, data);
    });
}

HRESULT RegistryDeleteTree(LPCOLESTR keyPath, HREGTRANSACTION transaction) noexcept {
    if (keyPath == nullptr || !ValidKeyPath(keyPath)) return E_INVALIDARG;
    return Guarded([&] { return Submit({TChange::Kind::DeleteTree, keyPath, {}, {}}, transaction); });
}

HRESULT RegistryEnumKey(LPCOLESTR keyPath, DWORD index, BSTR* name) noexcept {
    const bool root = keyPath == nullptr || keyPath[0] == '\0';
    if ((!root && !ValidKeyPath(keyPath)) || name == nullptr) return E_INVALIDARG;
    *name = nullptr;
    return Guarded([&] {
        std::shared_ptr<const TStore> store;
        const HRESULT hr = Load(store);
        if (FAILED(hr)) return hr;
        const std::string prefix = root ? std::string() : Fold(keyPath) + '\\';
        if (!root && !store->contains(Fold(keyPath))) return REGDB_E_KEYMISSING;
        DWORD position = 0;
        for (auto it = store->lower_bound(prefix); it != store->end() && it->first.starts_with(prefix); ++it) {
            if (it->first.find('\\', prefix.size()) != std::string::npos) continue;  // deeper down
            if (position++ == index) return CopyOut(std::string_view(it->second.path).substr(prefix.size()), name);
        }
        return S_FALSE;
    });
}

HRESULT RegistryEnumValue(LPCOLESTR keyPath, DWORD index, BSTR* name, BSTR* data) noexcept {
    if (keyPath == nullptr || !ValidKeyPath(keyPath) || name == nullptr || data == nullptr) return E_INVALIDARG;
    *name = *data = nullptr;
    return Guarded([&] {
        std::shared_ptr<const TStore> store;
        HRESULT hr = Load(store);
        if (FAILED(hr)) return hr;
        const auto key = store->find(Fold(keyPath));
        if (key == store->end()) return REGDB_E_KEYMISSING;
        if (index >= key->second.values.size()) return S_FALSE;
        const TValue& value = std::next(key->second.values.begin(), index)->second;
        hr = CopyOut(value.name, name);
        if (SUCCEEDED(hr)) hr = CopyOut(value.data, data);
        if (FAILED(hr)) {
            SysFreeString(*name);
            *name = nullptr;
        }
        return hr;
    });
}

HRESULT RegistryFilePath(BSTR* path) noexcept {
    if (path == nullptr) return E_INVALIDARG;
    *path = nullptr;
    return Guarded([&] {
        std::string file;
        const HRESULT hr = StorePath(file);
        return FAILED(hr) ? hr : CopyOut(file, path);
    });
}

HRESULT RegistryFailureText(BSTR* text) noexcept {
    if (text == nullptr) return E_INVALIDARG;
    *text = nullptr;
    if (failureText.empty()) return S_FALSE;
    return CopyOut(failureText, text);
}

HRESULT RegistryQueryServerPath(REFCLSID clsid, BSTR* path) noexcept {
    if (path == nullptr) return E_INVALIDARG;
    *path = nullptr;
    return Guarded([&] {
        std::shared_ptr<const TStore> store;
        struct stat status {};
        HRESULT hr = Load(store, status);
        if (FAILED(hr)) return hr;
        const auto key = store->find(Fold("CLSID\\" + GuidText(clsid) + "\\InprocServer32"));
        if (key == store->end()) return REGDB_E_CLASSNOTREG;
        const auto value = key->second.values.find("");
        if (value == key->second.values.end() || value->second.data.empty()) return REGDB_E_CLASSNOTREG;
        const std::string& library = value->second.data;

        // A library is code this process will run: it is taken only from a
        // store no one else could have written, and only by its full path
        // (a bare name would be searched for, a relative one found wherever
        // the host happens to run).
        std::string file;
        std::vector<std::string> folders;
        hr = StorePath(file);
        if (SUCCEEDED(hr)) hr = ResolveStore(file, file, &folders);
        if (FAILED(hr)) return hr;
        failureText = Distrust("file", file, status);
        for (const std::string& folder : folders) {
            if (!failureText.empty()) break;
            struct stat folderStatus {};
            if (::stat(folder.c_str(), &folderStatus) != 0) return FromErrno(errno, REGDB_E_READREGDB);
            failureText = Distrust("folder", folder, folderStatus);
        }
        if (failureText.empty() && library.front() != '/') {
            failureText = "the registered library \"" + library + "\" is not a full path";
        }
        if (!failureText.empty()) return E_ACCESSDENIED;
        return CopyOut(library, path);
    });
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) noexcept {
    if (progId == nullptr) return E_INVALIDARG;
    *progId = nullptr;
    return Guarded([&] {
        BSTR value = nullptr;
        const HRESULT hr = RegistryQueryValue(("CLSID\\" + GuidText(clsid) + "\\ProgID").c_str(), nullptr, &value);
        if (hr == REGDB_E_KEYMISSING) return REGDB_E_CLASSNOTREG;
        if (FAILED(hr)) return hr;
        const UINT length = SysStringLen(value);
        *progId = static_cast<LPOLESTR>(CoTaskMemAlloc(length + 1));
        if (*progId != nullptr) std::memcpy(*progId, value, length + 1);
        SysFreeString(value);
        return *progId == nullptr ? E_OUTOFMEMORY : S_OK;
    });
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) noexcept {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    return Guarded([&] {
        BSTR value = nullptr;
        HRESULT hr = RegistryQueryValue((std::string(progId) + "\\CLSID").c_str(), nullptr, &value);
        // A name that cannot be a key is not registered either.
        if (hr == REGDB_E_KEYMISSING || hr == E_INVALIDARG) return CO_E_CLASSSTRING;
        if (FAILED(hr)) return hr;
        hr = CLSIDFromString(value, clsid);
        SysFreeString(value);
        return hr;
    });
}

HRESULT RegisterTypeLib(const TYPELIBREGISTRATION& library, LPCOLESTR fullPath, LPCOLESTR helpDir,
                        HREGTRANSACTION transaction) noexcept {
    if (fullPath == nullptr) return E_INVALIDARG;
    return Guarded([&] {
        char version[16], lcid[16], flags[8];
        std::snprintf(version, sizeof version, "%x.%x", library.wMajorVerNum, library.wMinorVerNum);
        std::snprintf(lcid, sizeof lcid, "%x", library.lcid);
        std::snprintf(flags, sizeof flags, "%u", library.wLibFlags);
        const std::string key = "TypeLib\\" + GuidText(library.guid) + '\\' + version;

        // Without a caller's transaction the entries still go in together.
        REGTRANSACTION own;
        REGTRANSACTION& target = transaction != nullptr ? *transaction : own;
        const auto set = [&target](const std::string& keyPath, LPCOLESTR data) {
            target.changes.push_back({TChange::Kind::SetValue, keyPath, {}, data == nullptr ? "" : data});
        };
        set(key, library.docString);
        set(key + '\\' + lcid + '\\' + kPlatformKey, fullPath);
        set(key + "\\FLAGS", flags);
        if (helpDir != nullptr) set(key + "\\HELPDIR", helpDir);
        if (transaction != nullptr) return S_OK;
        const HRESULT hr = Update(own.changes);
        return SUCCEEDED(hr) ? S_OK : hr;
    });
}
