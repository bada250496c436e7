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

enum class ErrorKind {
    WRONG_PIN,
    PIN_BLOCKED,
    KEY_BLOCKED,
    PIN_REQUIRED,
    PASSWORD_REQUIRED,
    DEVICE_NOT_FOUND,
    DEVICE_ERROR,
    KEY_NOT_FOUND,
    CERTIFICATE_NOT_FOUND,
    ALREADY_EXISTS,
    NOT_SELECTED,
    SESSION_CLOSED,
    CANCELLED,
    CRYPTO_UNAVAILABLE,
    UNSUPPORTED_ALGORITHM,
    NOT_IMPLEMENTED,
    INVALID_SIGNATURE,
    MALFORMED_INPUT,
    INVALID_ARGUMENT,
    INTERNAL,
};

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
