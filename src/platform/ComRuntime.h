// The component runtime the automation object is written against: on Windows
// the platform's own (COM and OLE Automation), elsewhere the stand-in in this
// folder. The automation code includes this header only, so one source builds
// against either.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include "platform/GuidText.h"

consteval GUID MakeGuid(const char (&text)[kGuidStringLength]) { return MakeGuidOf<GUID>(text); }

#else

#include "platform/ErrorInfo.h"
#include "platform/OleAuto.h"
#include "platform/Registry.h"
#include "platform/Unknwn.h"
#include "platform/WinTypes.h"

// The calling convention of interface methods: __stdcall on 32-bit Windows,
// the one convention there is elsewhere.
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif

#endif

// The library's texts (UTF-8) as the runtime's strings, for its string
// parameters: the text itself where the runtime's character is char, a
// converted copy where it is UTF-16. The texts are the library's own short
// constants; one that does not fit converts to the empty string.
class OleText {
public:
#ifdef _WIN32
    explicit OleText(const char* text) noexcept {
        if (text == nullptr || MultiByteToWideChar(CP_UTF8, 0, text, -1, text_, kCapacity) == 0) text_[0] = L'\0';
    }
    operator LPOLESTR() noexcept { return text_; }

private:
    static constexpr int kCapacity = 512;
    OLECHAR text_[kCapacity];
#else
    explicit OleText(const char* text) noexcept : text_(text == nullptr ? "" : text) {}
    operator LPOLESTR() const noexcept { return const_cast<LPOLESTR>(text_); }

private:
    const char* text_;
#endif
};
