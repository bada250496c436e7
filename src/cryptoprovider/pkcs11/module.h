// One loaded PKCS#11 module (a token vendor's library) and the process-wide
// cache of loaded modules, with thin checked calls on slots, objects,
// attributes, key-pair generation, signing and verification.
//
// There is no module-wide "selected slot": every call that addresses a slot
// takes it, and sessions (session.h) remember their own slot, so two tokens
// of one make used from two threads never mix.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asn1/bytes.h"
#include "base/dynamic_library.h"
#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace pkcs11
{

// C_FindObjects is asked for at most this many handles; more matching
// objects are not returned.
inline constexpr std::size_t MAX_FOUND_OBJECTS = 256;

// What the library takes from a module at most. A module that reports more
// (or keeps asking for a bigger buffer) does not work as it should: its
// answer is refused with InvalidDevice, never allocated or read.
inline constexpr std::size_t MAX_SLOTS = 1024;               // slots of one slot list
inline constexpr std::size_t MAX_MECHANISMS = 4096;          // mechanisms of one slot
inline constexpr std::size_t MAX_ATTRIBUTE_LENGTH = 1 << 20; // one attribute value
inline constexpr std::size_t MAX_OUTPUT_LENGTH = 4096;       // one signature or digest
// How often a slot list is read again when readers come between the size
// query and the read (CKR_BUFFER_TOO_SMALL).
inline constexpr int SLOT_LIST_ATTEMPTS = 8;

// A module answer that cannot be right (a count or length beyond the bounds
// above or beyond the buffer given): logs `what` and throws InvalidDevice.
[[noreturn]] void refuseAnswer(std::string_view what);
// refuseAnswer unless `length` (what `call` reports) is at most `limit`.
void checkOutputLength(CK_ULONG length, std::size_t limit, std::string_view call);

// The one check of PKCS#11 return values: returns for CKR_OK, otherwise logs
// the value and throws
//   CKR_CANCEL, CKR_FUNCTION_CANCELED  -> FunctionCanceled (empty text)
//   CKR_FUNCTION_NOT_SUPPORTED         -> FunctionNotImplemented
//   CKR_PIN_LEN_RANGE                  -> PinLengthRange
//   CKR_PIN_LOCKED                     -> PinBlocked
//   CKR_TOKEN_NOT_PRESENT              -> DeviceNotFound (empty serial)
//   0x1B6                              -> InvalidDevice
//   anything else                      -> pkcs11::Exception(rv)
// (pkcs11::Exception and the return values' names and texts are in
// cryptoprovider/pkcs11/return_values.h, the other classes in
// cryptoprovider/core/errors.h).
void ENSURE_SUCCESS(CK_RV rv);

// The token's serialNumber field as text: spaces trimmed, upper case.
std::string tokenSerial(const CK_TOKEN_INFO& info);

} // namespace pkcs11

class Pkcs11
{
  public:
    // A module whose entry points a test double or a fuzz target supplies
    // instead of a loaded library: `functions` is what C_GetFunctionList
    // would give, `vendorFunction` resolves vendor entry points by name
    // (nullptr when there is none of that name; may be empty). Both must
    // stay valid for the module's lifetime.
    struct Supplied {
        CK_FUNCTION_LIST* functions = nullptr;
        std::function<void*(std::string_view)> vendorFunction;
    };

    // The module loaded from `path`. With `useCached` the cached module of
    // that path is returned when there is one; without it the cache entry is
    // replaced by a freshly loaded module (the old one lives on while others
    // hold it). Safe to call from any thread. Pkcs11LoadError as the
    // constructor. The cache is never torn down: modules still in it at
    // process exit are left to the system, not finalised.
    static std::shared_ptr<Pkcs11> instance(const std::string& path, bool useCached);
    // Puts `module` into the cache under `path` (replacing what is there),
    // so instance(path, true) returns it as if it had been loaded from that
    // path (nullptr: no cache entry). For test doubles and fuzz targets; a
    // later instance(path, false) loads the file again.
    static void supply(const std::string& path, std::shared_ptr<Pkcs11> module);

    // Loads the library, takes its function list and initialises it
    // (CKR_CRYPTOKI_ALREADY_INITIALIZED counts as success). Any failure is
    // Pkcs11LoadError naming the path.
    explicit Pkcs11(std::string_view path);
    // A module over supplied entry points (see Supplied), initialised like a
    // loaded one; `name` stands for the path in logs and errors.
    Pkcs11(std::string_view name, Supplied supplied);
    // C_Finalize once the last module object of this library that
    // initialised it goes away (sessions own a reference to their module, so
    // none of ours is open by then); never throws. Does not run for modules
    // still cached at process exit.
    ~Pkcs11();
    Pkcs11(const Pkcs11&) = delete;
    Pkcs11& operator=(const Pkcs11&) = delete;

    // The module's function list (never null after construction).
    CK_FUNCTION_LIST* get() const noexcept { return m_functions; }
    // A vendor entry point of the module; std::runtime_error "BS-0003" as
    // DynamicLibrary::getFunction when it has none of that name.
    void* getFunction(std::string_view name) const;
    template <class Function> Function function(std::string_view name) const
    {
        return reinterpret_cast<Function>(getFunction(name));
    }

    // Slots, with a token present only when `tokenPresent`. Read again when
    // the list grew between the size query and the read, at most
    // SLOT_LIST_ATTEMPTS times; then, and for more than MAX_SLOTS slots,
    // InvalidDevice.
    std::vector<CK_SLOT_ID> slotList(bool tokenPresent) const;
    // At most MAX_MECHANISMS (more: InvalidDevice).
    std::vector<CK_MECHANISM_TYPE> getMechanismList(CK_SLOT_ID slot) const;
    CK_TOKEN_INFO tokenInfo(CK_SLOT_ID slot) const;
    CK_SLOT_INFO slotInfo(CK_SLOT_ID slot) const;

    // The first slot with a token whose serialNumber, spaces trimmed, upper
    // case, padded on the left with '0' to the length of `serial`, equals
    // `serial` (compared as given: a lower-case request never matches).
    // DeviceNotFound(serial) when none does.
    CK_SLOT_ID findtSlot(std::string_view serial) const;

    // PinLengthRange unless the token's minimum <= pin.size() <= maximum.
    void checkPinLength(CK_SLOT_ID slot, const bytes& pin) const;

    // Object calls on an open session; failures through ENSURE_SUCCESS.
    CK_OBJECT_HANDLE createObject(CK_SESSION_HANDLE session, const std::vector<CK_ATTRIBUTE>& pattern) const;
    void deleteObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) const;
    // At most MAX_FOUND_OBJECTS handles of the objects matching `pattern`.
    std::vector<CK_OBJECT_HANDLE> findObjects(CK_SESSION_HANDLE session,
                                              const std::vector<CK_ATTRIBUTE>& pattern) const;
    // The value sized by a first call; a length beyond MAX_ATTRIBUTE_LENGTH
    // or beyond the buffer given is InvalidDevice.
    bytes getAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    void setAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, const bytes& value,
                      CK_ATTRIBUTE_TYPE type) const;

    // (public key, private key). CKR_HOST_MEMORY, CKR_GENERAL_ERROR,
    // CKR_FUNCTION_FAILED, CKR_DEVICE_MEMORY and the vendor value 0x80009108
    // mean the token has no room: CardIsFull. Other failures through
    // ENSURE_SUCCESS.
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE>
    generateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism,
                    std::vector<CK_ATTRIBUTE>& publicTemplate,
                    std::vector<CK_ATTRIBUTE>& privateTemplate) const;

    // C_SignInit (mechanism without parameter) and C_Sign; the signature as
    // the token gives it. A length beyond MAX_OUTPUT_LENGTH or beyond the
    // buffer given is InvalidDevice.
    bytes sign(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key,
               const bytes& data) const;
    // C_VerifyInit and C_Verify: true when valid, false for
    // CKR_SIGNATURE_INVALID, other failures through ENSURE_SUCCESS.
    bool verify(CK_SESSION_HANDLE session, const CK_MECHANISM& mechanism, CK_OBJECT_HANDLE key,
                const bytes& data, const bytes& signature) const;

  private:
    void initialise();

    std::string m_name;
    std::unique_ptr<DynamicLibrary> m_library; // null for a supplied module
    std::function<void*(std::string_view)> m_vendorFunction;
    CK_FUNCTION_LIST* m_functions = nullptr;
    bool m_initialised = false; // counted in the process-wide initialisation registry
};
