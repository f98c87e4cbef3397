// The error vocabulary of the library: every code a caller can receive, its
// text, and the one failure kind that carries a text from where a check fails
// to the automation boundary.
#pragma once

#include <cstdint>
#include <exception>
#include <span>

#include "kestrix/errors.hpp"

namespace kestrix {

// One row of the error table: the single source of codes, names and texts
// (the type library's enumeration is generated from it).
struct ErrorInfoRow {
    enumOErrCodes code;
    const char* name;
    const char* text;  // the failure message and the type library's help string
};

// Every row, `None` first, then in the type library's declaration order.
std::span<const ErrorInfoRow> ErrorTable() noexcept;

// The message of the failure raised for maths-library errors. The automation
// boundary answers it with success and 0 instead of an error.
inline constexpr const char* kInvalidOpMessage = "EInvalidOp";

// The library's one failure kind: an error object carrying a message. The
// message always points at static text, so raising allocates nothing but the
// exception object itself.
class PricingFailure : public std::exception {
public:
    explicit PricingFailure(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }
    const char* Message() const noexcept { return message_; }

private:
    const char* message_;
};

// The most recent failure's code, one per thread: a single thread sees the
// process-wide behaviour callers expect, while hosts that price on several
// threads do not clobber each other's code.
extern thread_local std::int32_t ErrorCode;

// Stores `code` through `errorCode`, then raises the code's text.
[[noreturn]] void RaiseError(std::int32_t& errorCode, enumOErrCodes code);

}  // namespace kestrix
