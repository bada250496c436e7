// The classes of failure a Java program acts on, one per catalogue code.
// Java's SignerException.getKind reads the same table (generated from this
// one when the API is built).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace ormid_signer
{

// Every kind, in the order of the Java enum.
// clang-format off
#define ORMID_ERROR_KINDS(X) \
    X(WRONG_PIN) \
    X(PIN_BLOCKED) \
    X(KEY_BLOCKED) \
    X(PIN_REQUIRED) \
    X(PASSWORD_REQUIRED) \
    X(DEVICE_NOT_FOUND) \
    X(DEVICE_ERROR) \
    X(KEY_NOT_FOUND) \
    X(CERTIFICATE_NOT_FOUND) \
    X(ALREADY_EXISTS) \
    X(NOT_SELECTED) \
    X(SESSION_CLOSED) \
    X(CANCELLED) \
    X(CRYPTO_UNAVAILABLE) \
    X(UNSUPPORTED_ALGORITHM) \
    X(NOT_IMPLEMENTED) \
    X(INVALID_SIGNATURE) \
    X(MALFORMED_INPUT) \
    X(INVALID_ARGUMENT) \
    X(INTERNAL)
// clang-format on

#define ORMID_ERROR_KIND_ENUMERATOR(name) name,
enum class ErrorKind { ORMID_ERROR_KINDS(ORMID_ERROR_KIND_ENUMERATOR) };
#undef ORMID_ERROR_KIND_ENUMERATOR

// Every kind in declaration order.
std::span<const ErrorKind> allErrorKinds() noexcept;

// The kind's name as the Java enum spells it ("WRONG_PIN").
const char* kindName(ErrorKind kind) noexcept;

struct ErrorKindRow {
    const char* code;
    ErrorKind kind;
};

// One row per catalogue code of every catalogue.
std::span<const ErrorKindRow> errorKindTable() noexcept;

// The kind of a catalogue code; none for a code the table does not hold.
std::optional<ErrorKind> kindOf(std::string_view code) noexcept;

// The code a failure without a catalogue entry carries ("Internal error").
inline constexpr const char* INTERNAL_ERROR_CODE = "BS-006002";

} // namespace ormid_signer
