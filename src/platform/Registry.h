// The component registry's classes root: keys under backslash-separated paths,
// each holding string values (the key's default value has the empty name).
// Names are compared without regard to case, as the platform does, and keep
// the spelling they were first written with.
//
// The store is one text file: $KESTRIX_REGISTRY, else
// $XDG_CONFIG_HOME/kestrix/registry, else ~/.config/kestrix/registry. A read
// takes the file as it stands and needs no lock: the file is only ever
// replaced whole (a temporary file renamed over it), so a reader sees the old
// or the new store, never a mixture. A process keeps what it read while the
// file keeps its device, inode, size and modification time. A change is a
// read-modify-write under an exclusive lock on the lock file beside the store
// (path + ".lock"), so writers from any number of processes queue and none
// loses another's change; a writer gives up after a few seconds of waiting.
// A store kept through a symbolic link is replaced at the link's target.
//
// Failures: REGDB_E_KEYMISSING for a key or value that is not there,
// HRESULT_FROM_WIN32(ERROR_BADDB) for a store file that is not one (corrupt,
// truncated or over 1 MB; it is then left alone; an empty file is an empty
// store), HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION) when the lock stays taken,
// HRESULT_FROM_WIN32(ERROR_REGISTRY_QUOTA_LIMIT) for a change that would make
// the store too large, and the system's error for a store that cannot be read
// or written (E_ACCESSDENIED, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when its
// folder cannot be made, ...). RegistryFailureText says more where it can.
#pragma once

#include "platform/OleAuto.h"

// A set of changes that reach the store in one atomic replace, or not at all.
// Changes made with a transaction are checked and queued; they are applied in
// order, to the store as it stands, at commit.
struct REGTRANSACTION;
using HREGTRANSACTION = REGTRANSACTION*;

HRESULT RegistryBeginTransaction(HREGTRANSACTION* transaction) noexcept;
// Applies the queued changes and ends the transaction, successful or not.
HRESULT RegistryCommitTransaction(HREGTRANSACTION transaction) noexcept;
// Drops the queued changes and ends the transaction.
void RegistryRollbackTransaction(HREGTRANSACTION transaction) noexcept;

// Creates the key `keyPath` and every missing key above it.
HRESULT RegistryCreateKey(LPCOLESTR keyPath, HREGTRANSACTION transaction = nullptr) noexcept;

// S_OK when the key exists, REGDB_E_KEYMISSING when not.
HRESULT RegistryOpenKey(LPCOLESTR keyPath) noexcept;

// Sets value `valueName` (null or "" for the key's default value) of the key
// `keyPath`, creating the key.
HRESULT RegistrySetValue(LPCOLESTR keyPath, LPCOLESTR valueName, LPCOLESTR data,
                         HREGTRANSACTION transaction = nullptr) noexcept;

// Reads a value into a new string the caller frees.
HRESULT RegistryQueryValue(LPCOLESTR keyPath, LPCOLESTR valueName, BSTR* data) noexcept;

// Removes the key `keyPath` with everything below it; S_FALSE when it did not
// exist (S_OK when queued in a transaction).
HRESULT RegistryDeleteTree(LPCOLESTR keyPath, HREGTRANSACTION transaction = nullptr) noexcept;

// The name of the `index`-th subkey of `keyPath` (null or "" for the root), in
// order of their folded names; S_FALSE and a null name past the last.
HRESULT RegistryEnumKey(LPCOLESTR keyPath, DWORD index, BSTR* name) noexcept;

// The name ("" for the default value) and data of the `index`-th value of
// `keyPath`, the default value first; S_FALSE and null strings past the last.
HRESULT RegistryEnumValue(LPCOLESTR keyPath, DWORD index, BSTR* name, BSTR* data) noexcept;

// The path of the store file in use.
HRESULT RegistryFilePath(BSTR* path) noexcept;

// For a person: why the calling thread's last registry operation failed when
// its HRESULT alone does not say (the file or folder not trusted, the lock
// held by another process, the store grown too large), in a new string the
// caller frees; S_FALSE and null when there is nothing to add.
HRESULT RegistryFailureText(BSTR* text) noexcept;

// The library registered as the in-process server of `clsid` (the default
// value of CLSID\{clsid}\InprocServer32), for activation to load: a library is
// taken only by its full path, from a store file whose folder and file belong
// to the user or root and may be written by no one else; else E_ACCESSDENIED,
// with RegistryFailureText naming the cause. REGDB_E_CLASSNOTREG when the
// class has no such entry; the store's error when it cannot be read.
HRESULT RegistryQueryServerPath(REFCLSID clsid, BSTR* path) noexcept;

// The programmatic identifier of a class, read from CLSID\{clsid}\ProgID, in
// task memory (CoTaskMemFree). REGDB_E_CLASSNOTREG when the class has none;
// the store's error when it cannot be read.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) noexcept;

// The class identifier registered under `progId`\CLSID; CO_E_CLASSSTRING when
// there is none; the store's error when it cannot be read.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) noexcept;

// What registering a type library needs to know of it: the platform reads
// these from the library's attributes (TLIBATTR) and documentation.
struct TYPELIBREGISTRATION {
    GUID guid;
    LCID lcid;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
    LPCOLESTR docString;
};

// Registers a type library by the full path of the file holding it: under
// TypeLib\{guid}\major.minor (hexadecimal) the default value docString, the
// subkey lcid (hexadecimal)\linux64 (linux32 on a 32-bit system) with the
// path, FLAGS with the flags in decimal and HELPDIR with `helpDir`.
HRESULT RegisterTypeLib(const TYPELIBREGISTRATION& library, LPCOLESTR fullPath, LPCOLESTR helpDir,
                        HREGTRANSACTION transaction = nullptr) noexcept;
