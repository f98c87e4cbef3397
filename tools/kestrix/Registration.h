// The server library's registration, which kestrix does as regsvr32 would
// (load the library, call its entry point), and the creation of an object the
// way any host does it: by programmatic identifier, through the registry.
#pragma once

#include <ostream>
#include <string>

#include "platform/Unknwn.h"

namespace kestrix::cli {

// libkestrix.so beside the running kestrix.
std::string DefaultServerLibrary();

// Loads `library` and calls its DllRegisterServer, or DllUnregisterServer;
// reports on `out` or `err`. Returns the entry point's HRESULT, or
// CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when there is none to call.
HRESULT RegisterServer(const std::string& library, bool unregister, std::ostream& out, std::ostream& err);

// The object registered under `progId`, asked for IDispatch; nullptr with
// the reason in `hr` when it cannot be created.
IDispatch* CreateByProgId(const std::string& progId, HRESULT& hr);

// A line for a person on an activation or registry failure: code, meaning and
// the registry file in use.
std::string DescribeRegistryFailure(HRESULT hr);

}  // namespace kestrix::cli
