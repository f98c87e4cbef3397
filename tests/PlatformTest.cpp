#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "platform/ErrorInfo.h"
#include "platform/Registry.h"

namespace {

std::string Text(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

TEST(Guid, BracedTextRoundTrips) {
    OLECHAR text[kGuidStringLength];
    ASSERT_EQ(StringFromGUID2(IID_IDispatch, text, kGuidStringLength), kGuidStringLength);
    EXPECT_STREQ(text, "{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, text, kGuidStringLength - 1), 0);

    constexpr GUID mixed = MakeGuid("{1cf2b120-547D-101b-8E65-08002b2BD119}");
    EXPECT_EQ(mixed, IID_IErrorInfo);
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString("{22F03340-547D-101B-8E65-08002B2BD119}", &parsed), S_OK);
    EXPECT_EQ(parsed, IID_ICreateErrorInfo);
    EXPECT_EQ(parsed.Data4[7], 0x19);
    EXPECT_EQ(parsed.Data2, 0x547D);

    for (const char* bad : {"", "{22F03340-547D-101B-8E65-08002B2BD119", "22F03340-547D-101B-8E65-08002B2BD119}",
                            "{22F03340-547D-101B-8E65-08002B2BD119}x", "{22F03340-547D-101B+8E65-08002B2BD119}",
                            "{22F0334G-547D-101B-8E65-08002B2BD119}", "{22F03340-547D-101B-8E6508-002B2BD119}"}) {
        EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << bad;
    }
}

TEST(Bstr, KeepsItsLengthAndEmbeddedNulls) {
    BSTR text = SysAllocStringLen("ab\0cd", 5);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(Text(text), std::string("ab\0cd", 5));
    EXPECT_EQ(text[5], '\0');
    SysFreeString(text);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

VARIANT FromText(const char* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

TEST(VariantChangeType, ReadsTextAsADecimalNumber) {
    struct Case {
        const char* text;
        HRESULT hr;
        double value;
    };
    const Case cases[] = {
        {"100", S_OK, 100},          {" 2.5 ", S_OK, 2.5},           {"+3", S_OK, 3},
        {"-1e-7", S_OK, -1e-7},      {"\t0.25\r\n", S_OK, 0.25},     {"1e400", DISP_E_OVERFLOW, 0},
        {"", DISP_E_TYPEMISMATCH, 0}, {"  ", DISP_E_TYPEMISMATCH, 0}, {"abc", DISP_E_TYPEMISMATCH, 0},
        {"1,5", DISP_E_TYPEMISMATCH, 0}, {"2 3", DISP_E_TYPEMISMATCH, 0}, {"+-3", DISP_E_TYPEMISMATCH, 0},
        {"+", DISP_E_TYPEMISMATCH, 0}, {"nan", DISP_E_TYPEMISMATCH, 0}, {"inf", DISP_E_TYPEMISMATCH, 0},
        {"0x10", DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        VARIANT source = FromText(c.text);
        VARIANT target;
        VariantInit(&target);
        EXPECT_EQ(VariantChangeType(&target, &source, 0, VT_R8), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(target.vt, VT_R8);
            EXPECT_EQ(target.dblVal, c.value);
        } else {
            EXPECT_EQ(target.vt, VT_EMPTY);  // untouched on failure
        }
        VariantClear(&source);
    }
}

TEST(VariantChangeType, RoundsToIntegersHalfToEven) {
    struct Case {
        double value;
        HRESULT hr;
        LONG expected;
    };
    const Case cases[] = {
        {2.5, S_OK, 2},
        {3.5, S_OK, 4},
        {-2.5, S_OK, -2},
        {2.4999, S_OK, 2},
        {-0.7, S_OK, -1},
        {2147483647.4, S_OK, 2147483647},
        {-2147483648.0, S_OK, std::numeric_limits<LONG>::min()},
        {2147483647.5, DISP_E_OVERFLOW, 0},
        {3e9, DISP_E_OVERFLOW, 0},
        {std::numeric_limits<double>::quiet_NaN(), DISP_E_OVERFLOW, 0},
        {-std::numeric_limits<double>::infinity(), DISP_E_OVERFLOW, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R8;
        v.dblVal = c.value;
        EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(v.vt, VT_I4);
            EXPECT_EQ(v.lVal, c.expected);
        }
    }
    VARIANT text = FromText("6.5");
    ASSERT_EQ(VariantChangeType(&text, &text, 0, VT_I4), S_OK);  // in place: the string is released
    EXPECT_EQ(text.lVal, 6);
}

TEST(VariantChangeType, ConvertsBetweenTheSubsetsTypes) {
    VARIANT v;
    VariantInit(&v);
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_R8), S_OK);  // empty is 0
    EXPECT_EQ(out.dblVal, 0);
    v.vt = VT_I4;
    v.lVal = -12;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_R8), S_OK);
    EXPECT_EQ(out.dblVal, -12);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, -1);
    v.vt = VT_R8;
    v.dblVal = 0.1;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_R8), DISP_E_TYPEMISMATCH);
    v.vt = VT_NULL;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_R8), DISP_E_TYPEMISMATCH);
    v.vt = 99;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_R8), DISP_E_BADVARTYPE);
    v.vt = VT_I4;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
}

TEST(VariantCopy, CopiesStringsDeeply) {
    VARIANT source = FromText("Straddle");
    VARIANT copy = FromText("old");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    VariantClear(&source);
    EXPECT_EQ(Text(copy.bstrVal), "Straddle");
    VariantClear(&copy);
    EXPECT_EQ(copy.vt, VT_EMPTY);
}

ICreateErrorInfo* FilledErrorInfo(const char* description) {
    ICreateErrorInfo* create = nullptr;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetGUID(IID_IDispatch);
    create->SetHelpContext(35);
    create->SetHelpFile(const_cast<LPOLESTR>("Kestrix.hlp"));
    create->SetDescription(const_cast<LPOLESTR>(description));
    return create;
}

TEST(ErrorInfo, OneCurrentObjectPerThreadHandedOverOnce) {
    ICreateErrorInfo* first = FilledErrorInfo("first");
    ICreateErrorInfo* second = FilledErrorInfo("second");
    IErrorInfo* firstInfo = nullptr;
    IErrorInfo* secondInfo = nullptr;
    first->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&firstInfo));
    second->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&secondInfo));

    ASSERT_EQ(SetErrorInfo(0, firstInfo), S_OK);
    ASSERT_EQ(SetErrorInfo(0, secondInfo), S_OK);  // replaces (and releases) the first
    EXPECT_EQ(firstInfo->AddRef(), 3u);            // first + firstInfo + this AddRef
    firstInfo->Release();

    IErrorInfo* seenElsewhere = secondInfo;
    std::thread([&seenElsewhere] { GetErrorInfo(0, &seenElsewhere); }).join();
    EXPECT_EQ(seenElsewhere, nullptr);

    IErrorInfo* collected = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &collected), S_OK);
    EXPECT_EQ(collected, secondInfo);
    EXPECT_EQ(GetErrorInfo(0, &collected), S_FALSE);
    EXPECT_EQ(collected, nullptr);
    EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);

    secondInfo->Release();  // the reference GetErrorInfo handed over
    secondInfo->Release();
    firstInfo->Release();
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);

    // A thread that ends with an uncollected error object releases it.
    std::thread([] {
        ICreateErrorInfo* create = FilledErrorInfo("left behind");
        IErrorInfo* info = nullptr;
        create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
        SetErrorInfo(0, info);
        info->Release();
        create->Release();
    }).join();
}

TEST(Registry, ValuesAndTreesWithoutRegardToCase) {
    ASSERT_EQ(RegistrySetValue("Test.Key\\Sub", nullptr, "default"), S_OK);
    ASSERT_EQ(RegistrySetValue("Test.Key\\Sub", "ThreadingModel", "Apartment"), S_OK);
    ASSERT_EQ(RegistrySetValue("Test.Key", nullptr, "top"), S_OK);
    ASSERT_EQ(RegistrySetValue("Test.KeyOther", nullptr, "sibling"), S_OK);
    BSTR value = nullptr;
    ASSERT_EQ(RegistryQueryValue("test.key\\SUB", "threadingmodel", &value), S_OK);
    EXPECT_EQ(Text(value), "Apartment");
    SysFreeString(value);
    ASSERT_EQ(RegistryQueryValue("TEST.KEY\\sub", "", &value), S_OK);
    EXPECT_EQ(Text(value), "default");
    SysFreeString(value);
    EXPECT_EQ(RegistryQueryValue("Test.Key\\Sub", "Missing", &value), REGDB_E_KEYMISSING);
    EXPECT_EQ(value, nullptr);

    EXPECT_EQ(RegistryDeleteTree("TEST.key"), S_OK);
    EXPECT_EQ(RegistryQueryValue("Test.Key", nullptr, &value), REGDB_E_KEYMISSING);
    EXPECT_EQ(RegistryQueryValue("Test.Key\\Sub", nullptr, &value), REGDB_E_KEYMISSING);
    ASSERT_EQ(RegistryQueryValue("Test.KeyOther", nullptr, &value), S_OK);  // a sibling, not a subkey
    SysFreeString(value);
    EXPECT_EQ(RegistryDeleteTree("Test.KeyOther"), S_OK);
    EXPECT_EQ(RegistryDeleteTree("Test.KeyOther"), S_FALSE);
    EXPECT_EQ(RegistrySetValue("", nullptr, "x"), E_INVALIDARG);
}

TEST(Registry, ProgIdAndClassIdLookups) {
    constexpr CLSID clsid = MakeGuid("{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}");
    LPOLESTR progId = nullptr;
    EXPECT_EQ(ProgIDFromCLSID(clsid, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID("Test.Class", &found), CO_E_CLASSSTRING);

    ASSERT_EQ(RegistrySetValue("CLSID\\{0a1b2c3d-4e5f-4071-8293-a4b5c6d7e8f9}\\ProgID", nullptr, "Test.Class"),
              S_OK);
    ASSERT_EQ(RegistrySetValue("Test.Class\\CLSID", nullptr, "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}"), S_OK);
    ASSERT_EQ(ProgIDFromCLSID(clsid, &progId), S_OK);
    EXPECT_STREQ(progId, "Test.Class");
    CoTaskMemFree(progId);
    ASSERT_EQ(CLSIDFromProgID("test.class", &found), S_OK);
    EXPECT_EQ(found, clsid);

    RegistryDeleteTree("CLSID\\{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}");
    RegistryDeleteTree("Test.Class");
    EXPECT_EQ(ProgIDFromCLSID(clsid, &progId), REGDB_E_CLASSNOTREG);
}

}  // namespace
