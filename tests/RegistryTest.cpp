#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "TempRegistry.h"
#include "platform/Registry.h"

namespace kestrix::test {
namespace {

constexpr HRESULT kBadDb = HRESULT_FROM_WIN32(ERROR_BADDB);
constexpr HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

std::string Take(BSTR text) {
    std::string copy = text == nullptr ? std::string() : std::string(text, SysStringLen(text));
    SysFreeString(text);
    return copy;
}

// The value's data, or "<hr>" when it cannot be read.
std::string Query(const char* key, const char* name = nullptr) {
    BSTR data = nullptr;
    const HRESULT hr = RegistryQueryValue(key, name, &data);
    return SUCCEEDED(hr) ? Take(data) : "<" + std::to_string(hr) + ">";
}

const std::string kMissing = "<" + std::to_string(REGDB_E_KEYMISSING) + ">";

// What the registry said about this thread's last failure, or "".
std::string FailureText() {
    BSTR text = nullptr;
    return RegistryFailureText(&text) == S_OK ? Take(text) : std::string();
}

std::vector<std::string> Subkeys(const char* key) {
    std::vector<std::string> names;
    BSTR name = nullptr;
    for (DWORD i = 0; RegistryEnumKey(key, i, &name) == S_OK; ++i) names.push_back(Take(name));
    return names;
}

TEST(RegistryStore, PersistsToTheFileKeepingTheFirstSpelling) {
    ASSERT_EQ(RegistrySetValue("Spell.Key\\Sub", "ThreadingModel", "Apartment"), S_OK);
    ASSERT_EQ(RegistrySetValue("SPELL.KEY\\sub", "threadingmodel", "Free"), S_OK);
    ASSERT_EQ(RegistrySetValue("spell.key\\SUB\\Deeper", nullptr, "x"), S_OK);
    const std::string text = ReadText(RegistryFile());
    EXPECT_TRUE(text.starts_with("KESTRIX REGISTRY 1\n")) << text;
    EXPECT_TRUE(text.ends_with("\nEND\n")) << text;
    EXPECT_NE(text.find("[Spell.Key\\Sub]\n\"ThreadingModel\"=\"Free\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Spell.Key\\Sub\\Deeper]\n@=\"x\"\n"), std::string::npos) << text;
    EXPECT_EQ(Subkeys(nullptr), std::vector<std::string>{"Spell.Key"});
    EXPECT_EQ(RegistryOpenKey("spell.KEY"), S_OK);  // made as the parent, without values
    EXPECT_EQ(RegistryDeleteTree("Spell.Key"), S_OK);
    EXPECT_EQ(RegistryOpenKey("Spell.Key\\Sub\\Deeper"), REGDB_E_KEYMISSING);
    EXPECT_EQ(RegistryDeleteTree("Spell.Key"), S_FALSE);
    for (const char* bad : {"", "\\Lead", "Trail\\", "Dou\\\\ble", "Line\nBreak"}) {
        EXPECT_EQ(RegistrySetValue(bad, nullptr, "x"), E_INVALIDARG) << bad;
    }
}

TEST(RegistryStore, AnyTextRoundTripsThroughTheFile) {
    const std::vector<std::string> texts = {
        "",           "plain",       "quote \" inside", "back\\slash\\", "line\nbreak\r\n", "tab\there",
        "\x01\x1F\x7F", "euro \xE2\x82\xAC", "[not a key]",  "@=\"x\"",       "trailing \\",    " \\x41 ",
    };
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string key = "Text\\Key ]" + std::to_string(i);
        ASSERT_EQ(RegistrySetValue(key.c_str(), texts[i].c_str(), texts[i].c_str()), S_OK);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string key = "Text\\Key ]" + std::to_string(i);
        EXPECT_EQ(Query(key.c_str(), texts[i].c_str()), texts[i]) << i;
        BSTR name = nullptr, data = nullptr;
        ASSERT_EQ(RegistryEnumValue(key.c_str(), 0, &name, &data), S_OK);
        EXPECT_EQ(Take(name), texts[i]);
        EXPECT_EQ(Take(data), texts[i]);
    }
}

TEST(RegistryStore, EnumeratesDirectSubkeysAndValuesInOrder) {
    ASSERT_EQ(RegistrySetValue("Enum\\b", nullptr, "1"), S_OK);
    ASSERT_EQ(RegistrySetValue("Enum\\A\\deep", nullptr, "2"), S_OK);
    ASSERT_EQ(RegistrySetValue("Enum.Sibling", nullptr, "3"), S_OK);
    ASSERT_EQ(RegistrySetValue("Enum", "Zeta", "z"), S_OK);
    ASSERT_EQ(RegistrySetValue("Enum", "alpha", "a"), S_OK);
    ASSERT_EQ(RegistrySetValue("Enum", nullptr, "default"), S_OK);
    EXPECT_EQ(Subkeys("ENUM"), (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(Subkeys(nullptr), (std::vector<std::string>{"Enum", "Enum.Sibling"}));

    std::vector<std::string> values;
    BSTR name = nullptr, data = nullptr;
    DWORD i = 0;
    for (; RegistryEnumValue("Enum", i, &name, &data) == S_OK; ++i) values.push_back(Take(name) + "=" + Take(data));
    EXPECT_EQ(values, (std::vector<std::string>{"=default", "alpha=a", "Zeta=z"}));
    EXPECT_EQ(RegistryEnumValue("Enum", i, &name, &data), S_FALSE);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(RegistryEnumKey("Enum\\Missing", 0, &name), REGDB_E_KEYMISSING);
}

TEST(RegistryTransaction, AppliesEveryChangeAtCommitOrNone) {
    ASSERT_EQ(RegistrySetValue("Txn\\Old", nullptr, "old"), S_OK);
    HREGTRANSACTION transaction = nullptr;
    ASSERT_EQ(RegistryBeginTransaction(&transaction), S_OK);
    ASSERT_EQ(RegistrySetValue("Txn\\New", nullptr, "new", transaction), S_OK);
    ASSERT_EQ(RegistryCreateKey("Txn\\Empty", transaction), S_OK);
    ASSERT_EQ(RegistryDeleteTree("Txn\\Old", transaction), S_OK);
    EXPECT_EQ(RegistrySetValue("", nullptr, "x", transaction), E_INVALIDARG);  // refused, not queued
    EXPECT_EQ(Query("Txn\\New"), kMissing);  // nothing reaches the store before the commit
    EXPECT_EQ(Query("Txn\\Old"), "old");
    ASSERT_EQ(RegistryCommitTransaction(transaction), S_OK);
    EXPECT_EQ(Query("Txn\\New"), "new");
    EXPECT_EQ(RegistryOpenKey("Txn\\Empty"), S_OK);
    EXPECT_EQ(RegistryOpenKey("Txn\\Old"), REGDB_E_KEYMISSING);

    ASSERT_EQ(RegistryBeginTransaction(&transaction), S_OK);
    ASSERT_EQ(RegistryDeleteTree("Txn", transaction), S_OK);
    RegistryRollbackTransaction(transaction);
    EXPECT_EQ(Query("Txn\\New"), "new");
}

TEST(RegistryTypeLib, WritesVersionAndLocaleInHexadecimal) {
    constexpr GUID library = MakeGuid("{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}");
    const TYPELIBREGISTRATION registration{library, 0x809, 2, 10, 4, "Test Library"};
    ASSERT_EQ(RegisterTypeLib(registration, "/opt/test.so", "/opt/"), S_OK);
    const std::string key = "TypeLib\\{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\\2.a";
    EXPECT_EQ(Query(key.c_str()), "Test Library");
    EXPECT_EQ(Query((key + "\\809\\linux64").c_str()), "/opt/test.so");
    EXPECT_EQ(Query((key + "\\FLAGS").c_str()), "4");
    EXPECT_EQ(Query((key + "\\HELPDIR").c_str()), "/opt/");
    EXPECT_EQ(Subkeys(key.c_str()), (std::vector<std::string>{"809", "FLAGS", "HELPDIR"}));
}

// Every way a store file can be damaged is a failure for readers and writers
// alike, and a writer leaves the damaged file as it was.
TEST(RegistryStore, CorruptOrTruncatedFileIsAFailureAndLeftAlone) {
    const std::string valid =
        "KESTRIX REGISTRY 1\n[CLSID\\{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\\ProgID]\n"
        "@=\"Test.Class\"\n[Test.Class\\CLSID]\n@=\"{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\"\nEND\n";
    const std::string damaged[] = {
        "KESTRIX REGISTRY 1\n",
        valid.substr(0, valid.size() - 1),   // the last newline lost
        valid.substr(0, valid.size() - 4),   // the trailer lost
        valid.substr(0, valid.find("Test.Class\"")),  // cut inside a line
        "KESTRIX REGISTRY 2\nEND\n",
        "KESTRIX REGISTRY 1\n@=\"no key yet\"\nEND\n",
        "KESTRIX REGISTRY 1\n[Key]\n@=\"unterminated\nEND\n",
        "KESTRIX REGISTRY 1\n[Key]\n@=\"bad \\q escape\"\nEND\n",
        "KESTRIX REGISTRY 1\n[Key]\n@=\"nul \\x00\"\nEND\n",
        "KESTRIX REGISTRY 1\n[Key]\n@=\"x\" trailing\nEND\n",
        "KESTRIX REGISTRY 1\n[Key]\n\"name\"\nEND\n",
        "KESTRIX REGISTRY 1\n[]\nEND\n",
        "KESTRIX REGISTRY 1\n[Key\\\\Twice]\nEND\n",
        "KESTRIX REGISTRY 1\n[Key\nEND\n",
        std::string("KESTRIX REGISTRY 1\n[Key]\n@=\"x\"\nEND\n\0", 36),
        // A raw NUL in a text: read in, it would be written back as \x00,
        // which no reader takes, and the store would be lost.
        std::string("KESTRIX REGISTRY 1\n[Key]\n@=\"x\0y\"\nEND\n", 37),
        std::string("KESTRIX REGISTRY 1\n[Key]\n\"\0\"=\"x\"\nEND\n", 37),
        // Well formed but larger than any store: not read at all.
        "KESTRIX REGISTRY 1\n;" + std::string(1 << 20, 'x') + "\n" + valid.substr(valid.find('[')),
    };
    constexpr CLSID clsid = MakeGuid("{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}");
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text.substr(0, 200));
        WriteText(RegistryFile(), text);
        BSTR data = nullptr;
        EXPECT_EQ(RegistryQueryValue("Test.Class\\CLSID", nullptr, &data), kBadDb);
        EXPECT_EQ(RegistrySetValue("Other", nullptr, "x"), kBadDb);
        EXPECT_EQ(RegistryDeleteTree("Test.Class"), kBadDb);
        LPOLESTR progId = nullptr;
        EXPECT_EQ(ProgIDFromCLSID(clsid, &progId), kBadDb);
        CLSID found{};
        EXPECT_EQ(CLSIDFromProgID("Test.Class", &found), kBadDb);
        EXPECT_EQ(ReadText(RegistryFile()), text);
    }

    // An empty file (made by hand, or by a tool that creates it first) is an
    // empty store, and takes a write.
    WriteText(RegistryFile(), "");
    BSTR name = nullptr;
    EXPECT_EQ(RegistryEnumKey(nullptr, 0, &name), S_FALSE);
    LPOLESTR progId = nullptr;
    EXPECT_EQ(ProgIDFromCLSID(clsid, &progId), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(RegistrySetValue("Test.Class\\CLSID", nullptr, "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}"), S_OK);
    EXPECT_EQ(Query("Test.Class\\CLSID"), "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}");

    // The same content, hand-edited with blank lines, comments and CRLF line ends, still reads.
    WriteText(RegistryFile(), "KESTRIX REGISTRY 1\r\n; edited\r\n\r\n[Test.Class\\CLSID]\r\n"
                              "@=\"{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\"\r\nEND\r\n");
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID("test.class", &found), S_OK);
    EXPECT_EQ(found, clsid);

    // A change that would make the store larger than a store may be is
    // refused, and writes nothing.
    const std::string before = ReadText(RegistryFile());
    EXPECT_EQ(RegistrySetValue("Big", nullptr, std::string(1 << 20, 'x').c_str()),
              HRESULT_FROM_WIN32(ERROR_REGISTRY_QUOTA_LIMIT));
    EXPECT_EQ(ReadText(RegistryFile()), before);
    std::filesystem::remove(RegistryFile());
}

// A store the library wrote, with every kind of text it escapes, cut at each
// length short of its whole (an empty file is an empty store): a reader gets
// ERROR_BADDB, a writer too, and the file is left as it was. The whole file
// still reads.
TEST(RegistryStore, EveryTruncationOfAValidStoreIsAFailure) {
    std::filesystem::remove(RegistryFile());
    ASSERT_EQ(RegistrySetValue("CLSID\\{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\\ProgID", nullptr, "Test.Class"), S_OK);
    ASSERT_EQ(RegistrySetValue("Test.Class\\CLSID", nullptr, "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}"), S_OK);
    ASSERT_EQ(RegistrySetValue("Texts", "quote\"back\\slash", "line\nbreak\r\ttab \x01\x7F END"), S_OK);
    ASSERT_EQ(RegistrySetValue("Texts\\[Bracket]", "@", "]"), S_OK);
    ASSERT_EQ(RegistrySetValue("END", nullptr, "END"), S_OK);
    const std::string valid = ReadText(RegistryFile());
    for (std::size_t length = 1; length < valid.size(); ++length) {
        const std::string cut = valid.substr(0, length);
        SCOPED_TRACE(length);
        WriteText(RegistryFile(), cut);
        EXPECT_EQ(Query("Test.Class\\CLSID"), "<" + std::to_string(kBadDb) + ">");
        BSTR name = nullptr;
        EXPECT_EQ(RegistryEnumKey(nullptr, 0, &name), kBadDb);
        EXPECT_EQ(RegistrySetValue("Other", nullptr, "x"), kBadDb);
        EXPECT_EQ(RegistryDeleteTree("Texts"), kBadDb);
        ASSERT_EQ(ReadText(RegistryFile()), cut);
    }
    WriteText(RegistryFile(), valid);
    EXPECT_EQ(Query("Test.Class\\CLSID"), "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}");
    EXPECT_EQ(Query("Texts", "QUOTE\"BACK\\SLASH"), "line\nbreak\r\ttab \x01\x7F END");
    EXPECT_EQ(Query("texts\\[bracket]", "@"), "]");
    std::filesystem::remove(RegistryFile());
}

// Random bytes, alone or between a valid header and trailer, and a valid
// store with random bytes overwritten: each read either succeeds or is
// ERROR_BADDB; a damaged file is left alone, and a store that reads takes a
// write and reads again afterwards.
TEST(RegistryStore, GarbageIsAFailureOrAStoreNeverACrash) {
    std::mt19937 random(20261208);  // fixed: a failure repeats
    const auto bytes = [&](std::size_t count, bool printable) {
        std::string text(count, '\0');
        for (char& c : text) {
            c = static_cast<char>(printable ? "[]@=\"\\\nxAZaz09 ;\r"[random() % 18] : random() % 256);
        }
        return text;
    };
    std::filesystem::remove(RegistryFile());
    ASSERT_EQ(RegistrySetValue("Some\\Key", "Name", "Data \"quoted\""), S_OK);
    ASSERT_EQ(RegistrySetValue("Some\\Other", nullptr, "x"), S_OK);
    const std::string valid = ReadText(RegistryFile());

    int readable = 0, damaged = 0;
    for (int round = 0; round < 600; ++round) {
        std::string text;
        switch (round % 3) {
            case 0: text = bytes(random() % 200, round % 2 == 0); break;
            case 1: text = "KESTRIX REGISTRY 1\n" + bytes(random() % 200, round % 2 == 0) + "\nEND\n"; break;
            default:
                text = valid;
                for (int flips = 1 + random() % 3; flips > 0; --flips) {
                    text[random() % text.size()] = bytes(1, round % 2 == 0)[0];
                }
                break;
        }
        SCOPED_TRACE(::testing::PrintToString(text));
        WriteText(RegistryFile(), text);
        BSTR name = nullptr;
        const HRESULT read = RegistryEnumKey(nullptr, 0, &name);
        SysFreeString(name);
        if (read == kBadDb) {
            ++damaged;
            EXPECT_EQ(RegistrySetValue("Written", nullptr, "x"), kBadDb);
            EXPECT_EQ(ReadText(RegistryFile()), text);
        } else {
            ++readable;
            ASSERT_TRUE(read == S_OK || read == S_FALSE) << read;
            ASSERT_EQ(RegistrySetValue("Written", nullptr, "x"), S_OK);
            EXPECT_EQ(Query("Written"), "x");
        }
    }
    EXPECT_GT(damaged, 0);
    EXPECT_GT(readable, 0);  // some overwrites land inside a text and keep the store valid
    std::filesystem::remove(RegistryFile());
}

TEST(RegistryStore, SomethingElseInTheFilesPlaceIsAFailureNotAHang) {
    ASSERT_EQ(mkfifo(RegistryFile().c_str(), 0600), 0);
    EXPECT_EQ(Query("Any"), "<" + std::to_string(kBadDb) + ">");
    EXPECT_EQ(RegistrySetValue("Any", nullptr, "x"), kBadDb);
    std::filesystem::remove(RegistryFile());
    std::filesystem::create_directory(RegistryFile());
    EXPECT_TRUE(FAILED(RegistrySetValue("Any", nullptr, "x")));
    std::filesystem::remove(RegistryFile());
}

TEST(RegistryStore, DefaultLocationIsXdgConfigHomeThenHome) {
    const auto folder = ScratchFolder("default");
    TScopedEnv home("HOME", (folder / "home").string());
    TScopedEnv config("XDG_CONFIG_HOME", (folder / "config").string());
    TScopedEnv registry("KESTRIX_REGISTRY", std::nullopt);
    BSTR path = nullptr;
    ASSERT_EQ(RegistryFilePath(&path), S_OK);
    EXPECT_EQ(Take(path), (folder / "config" / "kestrix" / "registry").string());
    ASSERT_EQ(RegistrySetValue("Default.Key", nullptr, "x"), S_OK);  // makes the folders
    EXPECT_NE(ReadText(folder / "config" / "kestrix" / "registry").find("[Default.Key]"), std::string::npos);
    {
        TScopedEnv relative("XDG_CONFIG_HOME", "relative/config");  // ignored
        ASSERT_EQ(RegistryFilePath(&path), S_OK);
        EXPECT_EQ(Take(path), (folder / "home" / ".config" / "kestrix" / "registry").string());
    }
    TScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
    TScopedEnv noHome("HOME", std::nullopt);
    EXPECT_EQ(RegistryFilePath(&path), kPathNotFound);
    EXPECT_EQ(RegistrySetValue("Key", nullptr, "x"), kPathNotFound);
}

// Writers in several processes at once: each one's last write survives and
// the file always reads.
TEST(RegistryStore, ConcurrentWritersLoseNoUpdate) {
    constexpr int kChildren = 4;
    constexpr int kWrites = 20;
    std::vector<pid_t> children;
    for (int child = 0; child < kChildren; ++child) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string key = "Race\\Child" + std::to_string(child);
            bool ok = true;
            for (int i = 1; i <= kWrites; ++i) {
                ok = ok && RegistrySetValue(key.c_str(), "Count", std::to_string(i).c_str()) == S_OK;
                ok = ok && RegistrySetValue("Race\\Shared", nullptr, key.c_str()) == S_OK;
                BSTR data = nullptr;
                ok = ok && RegistryQueryValue(key.c_str(), "Count", &data) == S_OK;
                SysFreeString(data);
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int child = 0; child < kChildren; ++child) {
        EXPECT_EQ(Query(("Race\\Child" + std::to_string(child)).c_str(), "Count"), std::to_string(kWrites));
    }
    EXPECT_EQ(Subkeys("Race").size(), kChildren + 1u);
}

// A process reads the store once and keeps it while the file is the same file
// (inode) of the same size and modification time; a change to any of them,
// or a file changed too recently for its time to tell, makes the next call
// read it again.
TEST(RegistryStore, ReadOnceAndAgainOnlyWhenTheFileChanged) {
    const std::filesystem::path file = RegistryFile();
    const auto store = [](const std::string& data) { return "KESTRIX REGISTRY 1\n[Kept]\n@=\"" + data + "\"\nEND\n"; };
    const auto setTime = [](const std::filesystem::path& path, time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    constexpr time_t kOld = 1700000000;
    WriteText(file, store("one"));
    setTime(file, kOld);
    ASSERT_EQ(Query("Kept"), "one");
    // Rewritten in place to the same size and given back its time: to the
    // reader the same file, so what it read stays in use (a reader that read
    // the file again would see "two").
    WriteText(file, store("two"));
    setTime(file, kOld);
    EXPECT_EQ(Query("Kept"), "one");

    const struct {
        const char* change;
        std::function<void()> make;
        std::string expected;
    } changes[] = {
        {"modification time", [&] { setTime(file, kOld + 1); }, "two"},
        {"size",
         [&] {
             WriteText(file, store("three"));
             setTime(file, kOld + 1);
         },
         "three"},
        {"inode (replaced by rename)",
         [&] {
             const auto next = file.string() + ".next";
             WriteText(next, store("four!"));
             setTime(next, kOld + 1);
             std::filesystem::rename(next, file);
         },
         "four!"},
        {"just written", [&] { WriteText(file, store("five!")); }, "five!"},
        {"written again at once, same size", [&] { WriteText(file, store("six!!")); }, "six!!"},
        {"removed", [&] { std::filesystem::remove(file); }, kMissing},
    };
    for (const auto& row : changes) {
        SCOPED_TRACE(row.change);
        row.make();
        EXPECT_EQ(Query("Kept"), row.expected);
    }
}

// A store kept through a symbolic link, or a chain of them (relative or not),
// is changed at its target, and its lock taken beside the target: the links
// stay links and the store they lead to has every change.
TEST(RegistryStore, WritesThroughALinkReachItsTarget) {
    const auto folder = ScratchFolder("linked");
    std::filesystem::create_directory(folder / "real");
    WriteText(folder / "real" / "registry", "KESTRIX REGISTRY 1\n[Old]\n@=\"x\"\nEND\n");
    std::filesystem::create_symlink("real/registry", folder / "second");
    std::filesystem::create_symlink(folder / "second", folder / "first");
    {
        TScopedEnv registry("KESTRIX_REGISTRY", (folder / "first").string());
        ASSERT_EQ(RegistrySetValue("New", nullptr, "y"), S_OK);
        ASSERT_EQ(RegistryDeleteTree("Old"), S_OK);
        EXPECT_EQ(Query("New"), "y");
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "first"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "second"));
    EXPECT_EQ(ReadText(folder / "real" / "registry"), "KESTRIX REGISTRY 1\n[New]\n@=\"y\"\nEND\n");
    EXPECT_TRUE(std::filesystem::exists(folder / "real" / "registry.lock"));
    EXPECT_FALSE(std::filesystem::exists(folder / "first.lock"));

    // A link to a store not made yet: the store is made where it leads.
    std::filesystem::create_symlink("real/later", folder / "ahead");
    TScopedEnv registry("KESTRIX_REGISTRY", (folder / "ahead").string());
    ASSERT_EQ(RegistrySetValue("Later", nullptr, "z"), S_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "ahead"));
    EXPECT_EQ(ReadText(folder / "real" / "later"), "KESTRIX REGISTRY 1\n[Later]\n@=\"z\"\nEND\n");
}

// A writer that cannot take the lock within a few seconds gives up, names the
// lock file and writes nothing.
TEST(RegistryStore, WriterGivesUpOnALockHeldByAnother) {
    ASSERT_EQ(RegistrySetValue("Before", nullptr, "x"), S_OK);
    const std::string before = ReadText(RegistryFile());
    const std::string lock = RegistryFile().string() + ".lock";
    const int holder = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    // The writer runs in a child under an alarm: one that waited for ever
    // would fail the test instead of hanging it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(holder);
        alarm(30);
        const bool gaveUp = RegistrySetValue("During", nullptr, "x") == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
        _exit(gaveUp && FailureText().find(lock) != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadText(RegistryFile()), before);
    EXPECT_EQ(RegistrySetValue("After", nullptr, "x"), S_OK);  // free again
}

// The store's folder, found made by another user, is not written into.
TEST(RegistryStore, AFolderOfAnotherUserIsNotTakenOver) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
    const auto folder = ScratchFolder("given-away") / "kestrix";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    TScopedEnv registry("KESTRIX_REGISTRY", (folder / "registry").string());
    EXPECT_EQ(RegistrySetValue("Key", nullptr, "x"), E_ACCESSDENIED);
    EXPECT_NE(FailureText().find(folder.string()), std::string::npos) << FailureText();
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    ASSERT_EQ(chown(folder.c_str(), 0, 0), 0);
    EXPECT_EQ(RegistrySetValue("Key", nullptr, "x"), S_OK);
}

}  // namespace
}  // namespace kestrix::test
