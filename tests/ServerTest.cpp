// The built libkestrix.so, loaded as a host loads it: its exported entry
// points, the registry entries they write and remove, its class factory and
// lock count, and activation by programmatic identifier.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ServerEntryPoints.h"
#include "TempRegistry.h"
#include "automation/OptionsImpl.h"
#include "platform/ErrorInfo.h"
#include "platform/ObjBase.h"
#include "platform/Registry.h"

namespace kestrix::test {
namespace {

constexpr const char* kClassKey = "CLSID\\{71D12FBC-BCD2-49AD-A254-B46503A8DA23}";
constexpr const char* kTypeLibKey = "TypeLib\\{2C9D68B6-D2AE-41BB-9161-409F995B3444}";
constexpr HRESULT kStrikePriceErr = MakeHResult(0x80050002u);
constexpr HRESULT kBadDb = HRESULT_FROM_WIN32(ERROR_BADDB);

std::string Take(BSTR text) {
    std::string copy = text == nullptr ? std::string() : std::string(text, SysStringLen(text));
    SysFreeString(text);
    return copy;
}

// Everything at and below `key`: a line "Key" for each key and "Key|Name=Data"
// for each value (the default value's name is empty), names as spelled.
std::set<std::string> Dump(const std::string& key) {
    std::set<std::string> lines{key};
    BSTR name = nullptr, data = nullptr;
    for (DWORD i = 0; RegistryEnumValue(key.c_str(), i, &name, &data) == S_OK; ++i) {
        lines.insert(key + "|" + Take(name) + "=" + Take(data));
    }
    for (DWORD i = 0; RegistryEnumKey(key.c_str(), i, &name) == S_OK; ++i) {
        const std::set<std::string> below = Dump(key + "\\" + Take(name));
        lines.insert(below.begin(), below.end());
    }
    return lines;
}

std::vector<std::string> RootKeys() {
    std::vector<std::string> names;
    BSTR name = nullptr;
    for (DWORD i = 0; RegistryEnumKey(nullptr, i, &name) == S_OK; ++i) names.push_back(Take(name));
    return names;
}

std::string LibraryPath() {
    char path[PATH_MAX];
    return realpath(KESTRIX_SERVER_LIBRARY, path) != nullptr ? path : "";
}

class ServerLibrary : public ::testing::Test, protected test::ServerEntryPoints {
protected:
    void SetUp() override {
        ASSERT_TRUE(Load(KESTRIX_SERVER_LIBRARY));
        std::filesystem::remove(RegistryFile());
    }
    void TearDown() override {
        if (library != nullptr) dlclose(library);
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(getClassObject(kestrix::CLSID_Kestrix, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }
};

TEST_F(ServerLibrary, RegistrationWritesExactlyTheClassEntries) {
    ASSERT_EQ(registerServer(), S_OK);
    const std::string key = kClassKey;
    EXPECT_EQ(Dump(key), (std::set<std::string>{
                             key,
                             key + "|=PlainOptions Object",
                             key + "\\InprocServer32",
                             key + "\\InprocServer32|=" + LibraryPath(),
                             key + "\\InprocServer32|ThreadingModel=Apartment",
                             key + "\\ProgID",
                             key + "\\ProgID|=Quantora.Kestrix",
                             key + "\\Version",
                             key + "\\Version|=1.0",
                             key + "\\Typelib",
                             key + "\\Typelib|={2C9D68B6-D2AE-41BB-9161-409F995B3444}",
                         }));
    EXPECT_EQ(Dump("Quantora.Kestrix"), (std::set<std::string>{
                                            "Quantora.Kestrix",
                                            "Quantora.Kestrix|=PlainOptions Object",
                                            "Quantora.Kestrix\\CLSID",
                                            "Quantora.Kestrix\\CLSID|={71D12FBC-BCD2-49AD-A254-B46503A8DA23}",
                                        }));
    const std::string lib = std::string(kTypeLibKey) + "\\1.0";
    const std::string folder = LibraryPath().substr(0, LibraryPath().rfind('/') + 1);
    EXPECT_EQ(Dump(lib), (std::set<std::string>{
                             lib,
                             lib + "|=Quantora 2.0 Type Library",
                             lib + "\\409",
                             lib + "\\409\\linux64",
                             lib + "\\409\\linux64|=" + LibraryPath(),
                             lib + "\\FLAGS",
                             lib + "\\FLAGS|=0",
                             lib + "\\HELPDIR",
                             lib + "\\HELPDIR|=" + folder,
                         }));
    EXPECT_EQ(RootKeys(), (std::vector<std::string>{"CLSID", "Quantora.Kestrix", "TypeLib"}));

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(kestrix::CLSID_Kestrix, &progId), S_OK);
    EXPECT_STREQ(progId, "Quantora.Kestrix");
    CoTaskMemFree(progId);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID("quantora.kestrix", &clsid), S_OK);
    EXPECT_EQ(clsid, kestrix::CLSID_Kestrix);
}

TEST_F(ServerLibrary, RegisteringAgainIsHarmlessAndDropsStaleClassEntries) {
    ASSERT_EQ(RegistrySetValue("Other.Program\\CLSID", nullptr, "{00000000-0000-0000-0000-000000000001}"), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    const std::string once = ReadText(RegistryFile());
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(ReadText(RegistryFile()), once);

    ASSERT_EQ(RegistrySetValue((std::string(kClassKey) + "\\LocalServer32").c_str(), nullptr, "/old/server"), S_OK);
    ASSERT_EQ(RegistrySetValue(kClassKey, "Stale", "x"), S_OK);
    ASSERT_EQ(RegistrySetValue((std::string(kClassKey) + "\\ProgID").c_str(), nullptr, "Old.Name"), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(ReadText(RegistryFile()), once);
}

TEST_F(ServerLibrary, UnregistrationRemovesClassAndProgIdButKeepsTheTypeLibrary) {
    ASSERT_EQ(RegistrySetValue("Other.Program\\CLSID", nullptr, "{00000000-0000-0000-0000-000000000001}"), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    const std::set<std::string> typeLibrary = Dump(kTypeLibKey);
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(RegistryOpenKey(kClassKey), REGDB_E_KEYMISSING);
    EXPECT_EQ(RegistryOpenKey("Quantora.Kestrix"), REGDB_E_KEYMISSING);
    EXPECT_EQ(Dump(kTypeLibKey), typeLibrary);
    EXPECT_EQ(Dump("Other.Program").size(), 3u);
    EXPECT_EQ(Dump("CLSID"), std::set<std::string>{"CLSID"});
    LPOLESTR progId = nullptr;
    EXPECT_EQ(ProgIDFromCLSID(kestrix::CLSID_Kestrix, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(unregisterServer(), S_OK);  // again: nothing left to remove
}

TEST_F(ServerLibrary, MayUnloadOnlyWithoutLiveObjectsOrFactoryLocks) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);  // holding the factory alone does not lock the module

    ASSERT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);

    IKestrix* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kestrix::IID_IKestrix, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_NE(static_cast<IUnknown*>(first), static_cast<IUnknown*>(second));  // one object per request
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    first->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // `support` still holds the first object
    support->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);

    // Unlocks without their locks are ignored: a live object, or a lock taken
    // afterwards, still keeps the library loaded.
    ASSERT_EQ(factory->LockServer(0), S_OK);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    ASSERT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
}

TEST_F(ServerLibrary, FactoryRefusesAggregationAndOtherClasses) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    IUnknown* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, reinterpret_cast<void**>(&object)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&object)), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);  // the refused objects are gone
    factory->Release();

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(getClassObject(kestrix::CLSID_Kestrix, IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(getClassObject(kestrix::CLSID_Kestrix, IID_IUnknown, nullptr), E_POINTER);
}

// Registration that cannot be written leaves no entry behind, and a store it
// cannot read is left as it was.
TEST_F(ServerLibrary, FailedRegistrationWritesNothing) {
    const auto folder = ScratchFolder("failing");
    WriteText(folder / "file", "not a folder");
    {
        TScopedEnv registry("KESTRIX_REGISTRY", (folder / "file" / "registry").string());
        EXPECT_EQ(registerServer(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_FALSE(std::filesystem::exists(RegistryFile()));

    ASSERT_EQ(RegistrySetValue("Other.Program", nullptr, "kept"), S_OK);
    const std::string before = ReadText(RegistryFile());
    std::filesystem::path lock = RegistryFile();
    lock += ".lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);  // the writer cannot take its lock
    EXPECT_TRUE(FAILED(registerServer()));
    EXPECT_TRUE(FAILED(unregisterServer()));
    EXPECT_EQ(ReadText(RegistryFile()), before);
    std::filesystem::remove(lock);

    const std::string truncated = before.substr(0, before.size() - 4);
    WriteText(RegistryFile(), truncated);
    EXPECT_EQ(registerServer(), kBadDb);
    EXPECT_EQ(unregisterServer(), kBadDb);
    EXPECT_EQ(ReadText(RegistryFile()), truncated);
}

// A failing call through IDispatch by DISPID, positional arguments only:
// GenBS with StrikePrice 0. Returns the exception's source, or "(none)".
std::string FailingCallSource(IDispatch* object) {
    FailingGenBSArguments call;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    const HRESULT hr = object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &call.params, &result, &excep, nullptr);
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, kStrikePriceErr);
    const std::string source = excep.bstrSource == nullptr ? "(none)" : Take(excep.bstrSource);
    excep.bstrSource = nullptr;
    ClearExcepInfo(&excep);
    return source;
}

TEST_F(ServerLibrary, ErrorSourceIsTheRegisteredProgId) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    IDispatch* loaded = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&loaded)), S_OK);
    IKestrix* linked = nullptr;
    ASSERT_EQ(TOptionsImpl::CreateInstance(nullptr, kestrix::IID_IKestrix, reinterpret_cast<void**>(&linked)), S_OK);

    EXPECT_EQ(FailingCallSource(loaded), "(none)");
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(FailingCallSource(loaded), "Quantora.Kestrix");
    EXPECT_EQ(FailingCallSource(linked), "Quantora.Kestrix");

    double result = 0;
    EXPECT_EQ(linked->GenBS(European, CallOption, Theoretical, 100, 0, 1, 0.2, 0.05, 0.01, 0, Years, 0, 0, 0,
                            DiscreteCashFlow, Continuous, Continuous, &result),
              kStrikePriceErr);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR source = nullptr;
    ASSERT_EQ(info->GetSource(&source), S_OK);
    EXPECT_EQ(Take(source), "Quantora.Kestrix");
    info->Release();

    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(FailingCallSource(loaded), "(none)");
    loaded->Release();
    linked->Release();
    factory->Release();
}

double GenBSValue(IKestrix* object) {
    double result = -1;
    EXPECT_EQ(object->GenBS(European, PutOption, Theoretical, 100, 95, 0.5, 0.25, 0.05, 0.02, 0, Years, 0, 0, 0,
                            DiscreteCashFlow, Continuous, Continuous, &result),
              S_OK);
    return result;
}

TEST_F(ServerLibrary, HostCreatesTheObjectByProgId) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID("Quantora.Kestrix", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(CLSIDFromProgID("Quantora.Kestrix", &clsid), S_OK);
    IKestrix* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kestrix::IID_IKestrix,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the host loaded this very library

    IKestrix* linked = nullptr;
    ASSERT_EQ(TOptionsImpl::CreateInstance(nullptr, kestrix::IID_IKestrix, reinterpret_cast<void**>(&linked)), S_OK);
    EXPECT_EQ(GenBSValue(object), GenBSValue(linked));
    linked->Release();
    object->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);

    void* none = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, 0x4, IID_IUnknown, &none), REGDB_E_CLASSNOTREG);
    const std::string inproc = std::string(kClassKey) + "\\InprocServer32";
    ASSERT_EQ(RegistrySetValue(inproc.c_str(), nullptr, "/nonexistent/libkestrix.so"), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &none), CO_E_DLLNOTFOUND);
    Dl_info libc{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&printf), &libc), 0);
    ASSERT_EQ(RegistrySetValue(inproc.c_str(), nullptr, libc.dli_fname), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &none), CO_E_ERRORINDLL);
    ASSERT_EQ(RegistryDeleteTree(inproc.c_str()), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &none), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(none, nullptr);
}

// Activation runs the library the store names, so it takes one only by its
// full path and only from a store whose file and folder belong to the user
// (or root) and may be written by no one else; else E_ACCESSDENIED, and the
// registry's account of the failure names what is at fault.
TEST_F(ServerLibrary, ActivationTrustsOnlyTheUsersOwnStoreAndFullPaths) {
    ASSERT_EQ(registerServer(), S_OK);
    const auto create = [] {
        IUnknown* object = nullptr;
        const HRESULT hr = CoCreateInstance(kestrix::CLSID_Kestrix, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                            reinterpret_cast<void**>(&object));
        if (object != nullptr) object->Release();
        return hr;
    };
    const auto failureText = [] {
        BSTR text = nullptr;
        return RegistryFailureText(&text) == S_OK ? Take(text) : std::string();
    };
    ASSERT_EQ(create(), S_OK);
    const std::string file = RegistryFile().string();
    const std::string folder = RegistryFile().parent_path().string();
    const auto mode = [](const std::string& path, mode_t bits) { ASSERT_EQ(chmod(path.c_str(), bits), 0); };
    const auto owner = [](const std::string& path, uid_t user) { ASSERT_EQ(chown(path.c_str(), user, 0), 0); };
    const bool root = geteuid() == 0;  // only root can hand a file to another user
    const struct {
        const char* spoiled;
        bool runs;
        std::function<void()> spoil, mend;
        std::string named;
    } rows[] = {
        {"file writable by its group", true, [&] { mode(file, 0620); }, [&] { mode(file, 0600); }, file},
        {"file writable by others", true, [&] { mode(file, 0602); }, [&] { mode(file, 0600); }, file},
        {"folder writable by its group", true, [&] { mode(folder, 0770); }, [&] { mode(folder, 0700); }, folder},
        {"folder writable by others", true, [&] { mode(folder, 01777); }, [&] { mode(folder, 0700); }, folder},
        {"file of another user", root, [&] { owner(file, 65534); }, [&] { owner(file, 0); }, file},
        {"folder of another user", root, [&] { owner(folder, 65534); }, [&] { owner(folder, 0); }, folder},
    };
    for (const auto& row : rows) {
        if (!row.runs) continue;
        SCOPED_TRACE(row.spoiled);
        row.spoil();
        EXPECT_EQ(create(), E_ACCESSDENIED);
        EXPECT_NE(failureText().find(row.named), std::string::npos) << failureText();
        row.mend();
        EXPECT_EQ(create(), S_OK);
    }

    // A name the loader would search for, or a path relative to wherever the
    // host runs, is never loaded.
    const std::string inproc = std::string(kClassKey) + "\\InprocServer32";
    for (const char* relative : {"libkestrix.so", "./libkestrix.so", "tools/libkestrix.so", "../evil.so"}) {
        SCOPED_TRACE(relative);
        ASSERT_EQ(RegistrySetValue(inproc.c_str(), nullptr, relative), S_OK);
        EXPECT_EQ(create(), E_ACCESSDENIED);
        EXPECT_NE(failureText().find("not a full path"), std::string::npos) << failureText();
    }
    ASSERT_EQ(RegistrySetValue(inproc.c_str(), nullptr, LibraryPath().c_str()), S_OK);
    EXPECT_EQ(create(), S_OK);
}

TEST_F(ServerLibrary, ConcurrentRegistrationLeavesAReadableStore) {
    constexpr int kChildren = 4;
    std::vector<pid_t> children;
    for (int child = 0; child < kChildren; ++child) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < 10; ++i) ok = ok && registerServer() == S_OK && unregisterServer() == S_OK;
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(RegistryOpenKey(kClassKey), REGDB_E_KEYMISSING);  // every child ended by unregistering
    EXPECT_EQ(RegistryOpenKey(kTypeLibKey), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(Dump(kClassKey).size(), 11u);
}

// Registration and unregistration from several processes while others read
// the class's entries and writers are killed mid-change: every read sees a
// whole store (never ERROR_BADDB), and afterwards the store parses, takes a
// registration and holds exactly its entries, with nothing left beside it.
TEST_F(ServerLibrary, StoreAlwaysParsesUnderRacingRegistrationReadersAndKilledWriters) {
    const auto runChild = [](auto body) {
        const pid_t pid = fork();
        if (pid == 0) _exit(body() ? 0 : 1);
        return pid;
    };
    const auto readsWhole = [] {
        LPOLESTR progId = nullptr;
        const HRESULT byClass = ProgIDFromCLSID(kestrix::CLSID_Kestrix, &progId);
        CoTaskMemFree(progId);
        CLSID clsid{};
        const HRESULT byName = CLSIDFromProgID("Quantora.Kestrix", &clsid);
        BSTR name = nullptr;
        const HRESULT keys = RegistryEnumKey(nullptr, 0, &name);
        SysFreeString(name);
        return (byClass == S_OK || byClass == REGDB_E_CLASSNOTREG) && (byName == S_OK || byName == CO_E_CLASSSTRING) &&
               (keys == S_OK || keys == S_FALSE);
    };
    std::vector<pid_t> finishing;
    for (int child = 0; child < 3; ++child) {
        finishing.push_back(runChild([&] {
            bool ok = true;
            for (int i = 0; i < 15; ++i) ok = ok && registerServer() == S_OK && unregisterServer() == S_OK;
            return ok;
        }));
    }
    for (int child = 0; child < 2; ++child) {
        finishing.push_back(runChild([&] {
            bool ok = true;
            for (int i = 0; i < 300; ++i) ok = ok && readsWhole();
            return ok;
        }));
    }
    // Writers that never stop on their own, killed at staggered moments.
    std::vector<pid_t> killed;
    for (int child = 0; child < 4; ++child) {
        killed.push_back(runChild([&] {
            for (;;) {
                registerServer();
                unregisterServer();
            }
            return true;
        }));
    }
    for (std::size_t i = 0; i < killed.size(); ++i) {
        usleep(static_cast<useconds_t>(3000 + 7000 * i));
        ASSERT_EQ(kill(killed[i], SIGKILL), 0);
    }
    for (const pid_t pid : killed) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status));
    }
    for (const pid_t pid : finishing) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    EXPECT_TRUE(readsWhole());
    ASSERT_EQ(registerServer(), S_OK);  // no killed writer left the store locked
    EXPECT_EQ(Dump(kClassKey).size(), 11u);
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(RegistryOpenKey(kClassKey), REGDB_E_KEYMISSING);
    // A killed writer's unfinished store is cleared away by the next writer.
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(RegistryFile().parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("registry")) files.insert(name);
    }
    EXPECT_EQ(files, (std::set<std::string>{"registry", "registry.lock"}));
}

}  // namespace
}  // namespace kestrix::test
