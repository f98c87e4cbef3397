// Objects made and dropped many times through every way a host gets one: the
// class's own CreateInstance, the class factory of the loaded libkestrix.so,
// activation through the registry; each interface asked for and released; the
// error information a failure leaves, collected or not, and the strings of an
// exception record. Every final Release must answer 0 and the module's lock
// count must come back to where it started; under the asan preset
// LeakSanitizer then shows that nothing was left behind.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <thread>
#include <vector>

#include "ServerEntryPoints.h"
#include "TempRegistry.h"
#include "automation/Module.h"
#include "automation/OptionsImpl.h"
#include "platform/ErrorInfo.h"
#include "platform/ObjBase.h"
#include "platform/Registry.h"

namespace kestrix::test {
namespace {

constexpr int kRounds = 200;
constexpr HRESULT kStrikePriceErr = MakeHResult(0x80050002u);
const IID* const kObjectInterfaces[] = {&IID_IUnknown, &IID_IDispatch, &kestrix::IID_IKestrix, &IID_ISupportErrorInfo};

// The object's IUnknown, whatever interface `object` is.
IUnknown* Identity(void* object, REFIID iid) {
    return iid == IID_ISupportErrorInfo ? static_cast<IUnknown*>(static_cast<ISupportErrorInfo*>(object))
                                        : static_cast<IUnknown*>(static_cast<IDispatch*>(object));
}

// Asks a new object for every interface it has (and one it has not),
// releasing each; then drops the creator's reference, which must be the last.
void ExerciseAndRelease(IUnknown* object) {
    ULONG held = 1;
    for (const IID* iid : kObjectInterfaces) {
        void* other = nullptr;
        ASSERT_EQ(object->QueryInterface(*iid, &other), S_OK);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(Identity(other, *iid)->AddRef(), held + 2);
        EXPECT_EQ(Identity(other, *iid)->Release(), held + 1);
        EXPECT_EQ(Identity(other, *iid)->Release(), held);
    }
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(object->Release(), 0u);
}

// One failing call through the function table; leaves its error information.
HRESULT FailingCall(IKestrix* object) {
    double result = 0;
    return object->GenBS(European, CallOption, Theoretical, 100, -1, 0.25, 0.3, 0.05, 0, 0, Years, 0, 0, 0,
                         DiscreteCashFlow, Continuous, Continuous, &result);
}

IKestrix* NewObject() {
    IKestrix* object = nullptr;
    EXPECT_EQ(TOptionsImpl::CreateInstance(nullptr, kestrix::IID_IKestrix, reinterpret_cast<void**>(&object)), S_OK);
    return object;
}

TEST(ObjectLifetime, CreateInstanceForEveryInterfaceReleasesEverything) {
    const long locks = ModuleLockCount();
    for (const IID* iid : kObjectInterfaces) {
        for (int round = 0; round < kRounds; ++round) {
            void* object = nullptr;
            ASSERT_EQ(TOptionsImpl::CreateInstance(nullptr, *iid, &object), S_OK);
            EXPECT_EQ(ModuleLockCount(), locks + 1);
            ExerciseAndRelease(Identity(object, *iid));
            ASSERT_EQ(ModuleLockCount(), locks);
        }
    }
    // Refused requests leave no object behind.
    IKestrix* outer = NewObject();
    for (int round = 0; round < kRounds; ++round) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(TOptionsImpl::CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(TOptionsImpl::CreateInstance(nullptr, IID_IErrorInfo, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(outer->Release(), 0u);
    EXPECT_EQ(ModuleLockCount(), locks);
}

TEST(ObjectLifetime, ErrorInformationOfFailuresIsReleased) {
    const long locks = ModuleLockCount();
    // The class is registered, so each failure also reads its source (task memory).
    ASSERT_EQ(RegistrySetValue("CLSID\\{71D12FBC-BCD2-49AD-A254-B46503A8DA23}\\ProgID", nullptr, "Quantora.Kestrix"),
              S_OK);
    IKestrix* object = NewObject();
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(FailingCall(object), kStrikePriceErr);
        if (round % 2 == 0) {
            IErrorInfo* info = nullptr;
            ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
            BSTR source = nullptr;
            ASSERT_EQ(info->GetSource(&source), S_OK);
            EXPECT_STREQ(source, "Quantora.Kestrix");
            SysFreeString(source);
            EXPECT_EQ(info->Release(), 0u);  // the collector holds the only reference
        }
        // An odd round leaves its error information to the next failure, which replaces it.
    }
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(ModuleLockCount(), locks);
    ASSERT_EQ(RegistryDeleteTree("CLSID"), S_OK);
}

TEST(ObjectLifetime, ErrorInformationLeftOnAThreadIsReleasedWhenItEnds) {
    IKestrix* object = NewObject();
    IErrorInfo* kept = nullptr;
    std::thread([&] {
        ASSERT_EQ(FailingCall(object), kStrikePriceErr);
        // Keep a reference of our own and leave the thread's in place.
        ASSERT_EQ(GetErrorInfo(0, &kept), S_OK);
        ASSERT_EQ(SetErrorInfo(0, kept), S_OK);
    }).join();
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->Release(), 0u);  // the ended thread gave its reference back
    EXPECT_EQ(object->Release(), 0u);
}

TEST(ObjectLifetime, DispatchCallsFreeWhatTheyAllocate) {
    const long locks = ModuleLockCount();
    IDispatch* object = NewObject();
    for (int round = 0; round < kRounds; ++round) {
        // Names in, identifiers out.
        LPOLESTR names[] = {const_cast<LPOLESTR>("genbs"), const_cast<LPOLESTR>("StrikePrice"),
                            const_cast<LPOLESTR>("NoSuchName")};
        DISPID ids[3] = {};
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
        UINT count = 1;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        ITypeInfo* typeInfo = nullptr;
        EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &typeInfo), DISP_E_BADINDEX);
        EXPECT_EQ(typeInfo, nullptr);

        // Text arguments (an enumeration member, numbers), a failure with its
        // exception record, a success, and a conversion that fails.
        VARIANT args[9];
        for (VARIANT& arg : args) VariantInit(&arg);
        const char* texts[] = {"0.02", "0.05", "0.3", "0.25", round % 3 == 0 ? "-1" : "100", "100"};
        for (int i = 0; i < 6; ++i) {
            args[i].vt = VT_BSTR;
            args[i].bstrVal = SysAllocString(texts[i]);
        }
        args[6].vt = VT_BSTR;
        args[6].bstrVal = SysAllocString(round % 3 == 2 ? "NotAFunction" : "Theoretical");
        args[7].vt = VT_I4;
        args[7].lVal = CallOption;
        args[8].vt = VT_I4;
        args[8].lVal = European;
        DISPPARAMS params{args, nullptr, 9, 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excepInfo{};
        UINT argErr = 0;
        const HRESULT hr = object->Invoke(0, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                          round % 2 == 0 ? &excepInfo : nullptr, &argErr);
        switch (round % 3) {
            case 0: EXPECT_EQ(hr, DISP_E_EXCEPTION); break;
            case 1: EXPECT_EQ(hr, S_OK); break;
            default: EXPECT_EQ(hr, DISP_E_TYPEMISMATCH); break;
        }
        if (hr == DISP_E_EXCEPTION && round % 2 == 0) {
            EXPECT_NE(excepInfo.bstrDescription, nullptr);
        }
        ClearExcepInfo(&excepInfo);
        VariantClear(&result);
        for (VARIANT& arg : args) VariantClear(&arg);
        SetErrorInfo(0, nullptr);
    }
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(ModuleLockCount(), locks);
}

#ifdef KESTRIX_SERVER_LIBRARY

// The server library as a host loads it; its lock count is its own, seen
// through DllCanUnloadNow.
class LoadedServer : public ::testing::Test, protected test::ServerEntryPoints {
protected:
    void SetUp() override {
        ASSERT_TRUE(Load(KESTRIX_SERVER_LIBRARY));
        ASSERT_EQ(canUnloadNow(), S_OK);
    }
    void TearDown() override {
        if (library != nullptr) {
            EXPECT_EQ(canUnloadNow(), S_OK);
            dlclose(library);
        }
    }
};

TEST_F(LoadedServer, ClassFactoryObjectsAndLocksAreAllGivenBack) {
    for (const IID* factoryIid : {&IID_IUnknown, &IID_IClassFactory}) {
        for (int round = 0; round < kRounds; ++round) {
            IClassFactory* factory = nullptr;
            ASSERT_EQ(getClassObject(kestrix::CLSID_Kestrix, *factoryIid, reinterpret_cast<void**>(&factory)), S_OK);
            ASSERT_EQ(factory->LockServer(1), S_OK);
            for (const IID* iid : kObjectInterfaces) {
                void* object = nullptr;
                ASSERT_EQ(factory->CreateInstance(nullptr, *iid, &object), S_OK);
                ExerciseAndRelease(Identity(object, *iid));
            }
            void* refused = nullptr;
            EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &refused), CLASS_E_NOAGGREGATION);
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &refused), E_NOINTERFACE);
            EXPECT_EQ(canUnloadNow(), S_FALSE);  // the lock
            ASSERT_EQ(factory->LockServer(0), S_OK);
            ASSERT_EQ(canUnloadNow(), S_OK);
            factory->Release();
        }
    }
}

TEST_F(LoadedServer, ObjectsActivatedThroughTheRegistryAreAllGivenBack) {
    std::filesystem::remove(RegistryFile());
    ASSERT_EQ(registerServer(), S_OK);
    for (int round = 0; round < kRounds; ++round) {
        IKestrix* object = nullptr;
        ASSERT_EQ(CoCreateInstance(kestrix::CLSID_Kestrix, nullptr, CLSCTX_INPROC_SERVER, kestrix::IID_IKestrix,
                                   reinterpret_cast<void**>(&object)),
                  S_OK);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        // The library keeps its own runtime: its error information reaches
        // this host through the exception record of Invoke.
        FailingGenBSArguments call;
        EXCEPINFO excepInfo{};
        ASSERT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &call.params, nullptr, &excepInfo, nullptr),
                  DISP_E_EXCEPTION);
        EXPECT_EQ(excepInfo.scode, kStrikePriceErr);
        EXPECT_STREQ(excepInfo.bstrSource, "Quantora.Kestrix");
        ClearExcepInfo(&excepInfo);
        ExerciseAndRelease(object);
        ASSERT_EQ(canUnloadNow(), S_OK);
    }
    CoFreeUnusedLibraries();
    std::filesystem::remove(RegistryFile());
}

#endif  // KESTRIX_SERVER_LIBRARY

}  // namespace
}  // namespace kestrix::test
