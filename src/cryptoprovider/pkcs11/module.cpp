#include "cryptoprovider/pkcs11/module.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/conv.h"
#include "base/errors.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/never_destroyed.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/return_values.h"

namespace pkcs11
{

namespace
{

// Value some modules return when the token has no room for another key.
constexpr CK_RV VENDOR_NO_ROOM = 0x80009108UL;
// Value reported for a device that does not work as it should.
constexpr CK_RV INVALID_DEVICE = 0x1B6UL;

} // namespace

void ENSURE_SUCCESS(CK_RV rv)
{
    if (rv == CKR_OK)
        return;
    bs::Logger("pkcs11::ENSURE_SUCCESS").error(conv::int_to_hex(rv, 4, true));
    switch (rv) {
    case CKR_CANCEL:
    case CKR_FUNCTION_CANCELED:
        throw bs::withVendorCode(FunctionCanceled(), rv);
    case CKR_FUNCTION_NOT_SUPPORTED:
        throw bs::withVendorCode(FunctionNotImplemented(), rv);
    case CKR_PIN_LEN_RANGE:
        throw bs::withVendorCode(PinLengthRange(), rv);
    case CKR_PIN_LOCKED:
        throw bs::withVendorCode(PinBlocked(), rv);
    case CKR_TOKEN_NOT_PRESENT:
        throw bs::withVendorCode(DeviceNotFound(), rv);
    case INVALID_DEVICE:
        throw bs::withVendorCode(InvalidDevice(), rv);
    default:
        throw Exception(static_cast<std::uint32_t>(rv));
    }
}

void refuseAnswer(std::string_view what)
{
    const bs::Logger log("pkcs11::refuseAnswer");
    log.error(std::string(what));
    bs::logAndThrow(log, InvalidDevice());
}

void checkOutputLength(CK_ULONG length, std::size_t limit, std::string_view call)
{
    if (length > limit)
        refuseAnswer(std::string(call) + ": " + std::to_string(length) + " bytes, at most " +
                     std::to_string(limit) + " taken");
}

std::string tokenSerial(const CK_TOKEN_INFO& info)
{
    std::string serial = bs::trim(
        std::string_view(reinterpret_cast<const char*>(info.serialNumber), sizeof info.serialNumber));
    std::transform(serial.begin(), serial.end(), serial.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return serial;
}

} // namespace pkcs11

namespace
{

using pkcs11::ENSURE_SUCCESS;

// Which loaded libraries (by function list) our module objects use, and
// whether one of them initialised the library: C_Initialize runs for the
// first of them, C_Finalize after the last, and never under another user of
// the process that initialised the library itself.
struct Initialisation {
    int users = 0;
    bool ours = false;
};

// The process-wide module state. It lives until the process ends and is
// never torn down at exit: the cached modules are then neither finalised nor
// unloaded (the system reclaims them), because a loaded library's own
// statics may already be gone when ours would be destroyed, and a module may
// still have sessions open. Modules dropped earlier (replaced in the cache,
// or loaded outside it) are finalised when their last user lets go.
struct ModuleRegistry {
    std::mutex initMutex;
    std::map<CK_FUNCTION_LIST*, Initialisation> initialisations;
    std::mutex cacheMutex;
    std::map<std::string, std::shared_ptr<Pkcs11>> instances;
};

ModuleRegistry& registry()
{
    static bs::NeverDestroyed<ModuleRegistry> state;
    return *state;
}

CK_RV initialise(CK_FUNCTION_LIST* functions)
{
    // Java calls in from any thread: the module is told to use OS locking;
    // a module that cannot is initialised without arguments.
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = functions->C_Initialize(&args);
    if (rv == CKR_CANT_LOCK || rv == CKR_ARGUMENTS_BAD)
        rv = functions->C_Initialize(nullptr);
    return rv;
}

} // namespace

std::shared_ptr<Pkcs11> Pkcs11::instance(const std::string& path, bool useCached)
{
    ModuleRegistry& state = registry();
    std::lock_guard lock(state.cacheMutex);
    auto found = state.instances.find(path);
    if (found != state.instances.end()) {
        if (useCached)
            return found->second;
        // Released before the new module loads: when nobody else holds it the
        // library is finalised and initialised afresh.
        state.instances.erase(found);
    }
    auto module = std::make_shared<Pkcs11>(path);
    state.instances[path] = module;
    return module;
}

void Pkcs11::supply(const std::string& path, std::shared_ptr<Pkcs11> module)
{
    ModuleRegistry& state = registry();
    std::shared_ptr<Pkcs11> previous; // released after the lock
    std::lock_guard lock(state.cacheMutex);
    const auto found = state.instances.find(path);
    if (found != state.instances.end()) {
        previous = std::move(found->second);
        state.instances.erase(found);
    }
    if (module)
        state.instances.emplace(path, std::move(module));
}

Pkcs11::Pkcs11(std::string_view path)
try : m_name(path), m_library(std::make_unique<DynamicLibrary>(path)) {
    bs::Logger log("Pkcs11::Pkcs11");
    log.info(std::string(path));
    log.info("C_GetFunctionList");
    const auto getFunctionList = m_library->function<CK_C_GetFunctionList>("C_GetFunctionList");
    ENSURE_SUCCESS(getFunctionList(&m_functions));
    initialise();
} catch (const std::exception& error) {
    bs::Logger("Pkcs11::Pkcs11").error(error.what());
    throw Pkcs11LoadError(path);
}

Pkcs11::Pkcs11(std::string_view name, Supplied supplied)
try : m_name(name), m_vendorFunction(std::move(supplied.vendorFunction)), m_functions(supplied.functions) {
    bs::Logger("Pkcs11::Pkcs11").info(std::string(name) + " (supplied)");
    initialise();
} catch (const std::exception& error) {
    bs::Logger("Pkcs11::Pkcs11").error(error.what());
    throw Pkcs11LoadError(name);
}

void Pkcs11::initialise()
{
    if (m_functions == nullptr || m_functions->C_Initialize == nullptr)
        ENSURE_SUCCESS(CKR_GENERAL_ERROR);

    bs::Logger("Pkcs11::Pkcs11").info("C_Initialize");
    ModuleRegistry& modules = registry();
    std::lock_guard lock(modules.initMutex);
    Initialisation& state = modules.initialisations[m_functions];
    if (state.users == 0) {
        const CK_RV rv = ::initialise(m_functions);
        if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
            modules.initialisations.erase(m_functions);
            ENSURE_SUCCESS(rv);
        }
        state.ours = rv == CKR_OK;
    }
    ++state.users;
    m_initialised = true;
}

void* Pkcs11::getFunction(std::string_view name) const
{
    if (m_library)
        return m_library->getFunction(name);
    void* address = m_vendorFunction ? m_vendorFunction(name) : nullptr;
    if (address == nullptr) {
        const std::string message = bs::message(bs::localization, "BS-0003", std::string(name));
        bs::Logger("Pkcs11::getFunction").error(message);
        throw std::runtime_error(message);
    }
    return address;
}

Pkcs11::~Pkcs11()
{
    if (!m_initialised)
        return;
    ModuleRegistry& modules = registry();
    std::lock_guard lock(modules.initMutex);
    auto found = modules.initialisations.find(m_functions);
    if (found == modules.initialisations.end() || --found->second.users > 0)
        return;
    if (found->second.ours)
        m_functions->C_Finalize(nullptr);
    modules.initialisations.erase(found);
}

std::vector<CK_SLOT_ID> Pkcs11::slotList(bool tokenPresent) const
{
    bs::Logger log("Pkcs11::slotList");
    const CK_BBOOL present = tokenPresent ? CK_TRUE : CK_FALSE;
    for (int attempt = 0; attempt < pkcs11::SLOT_LIST_ATTEMPTS; ++attempt) {
        CK_ULONG count = 0;
        ENSURE_SUCCESS(m_functions->C_GetSlotList(present, nullptr, &count));
        if (count > pkcs11::MAX_SLOTS)
            pkcs11::refuseAnswer("C_GetSlotList: " + std::to_string(count) + " slots");
        std::vector<CK_SLOT_ID> slots(count);
        const CK_RV rv = m_functions->C_GetSlotList(present, slots.data(), &count);
        if (rv == CKR_BUFFER_TOO_SMALL)
            continue; // a reader came between the two calls
        ENSURE_SUCCESS(rv);
        slots.resize(std::min<std::size_t>(count, slots.size()));
        return slots;
    }
    pkcs11::refuseAnswer("C_GetSlotList: the list kept growing");
}

std::vector<CK_MECHANISM_TYPE> Pkcs11::getMechanismList(CK_SLOT_ID slot) const
{
    bs::Logger log("Pkcs11::getMechanismList");
    CK_ULONG count = 0;
    ENSURE_SUCCESS(m_functions->C_GetMechanismList(slot, nullptr, &count));
    if (count > pkcs11::MAX_MECHANISMS)
        pkcs11::refuseAnswer("C_GetMechanismList: " + std::to_string(count) + " mechanisms");
    std::vector<CK_MECHANISM_TYPE> mechanisms(count);
    ENSURE_SUCCESS(m_functions->C_GetMechanismList(slot, mechanisms.data(), &count));
    mechanisms.resize(std::min<std::size_t>(count, mechanisms.size()));
    for (CK_MECHANISM_TYPE mechanism : mechanisms)
        log.debug(conv::int_to_hex(mechanism, 4, true));
    return mechanisms;
}

CK_TOKEN_INFO Pkcs11::tokenInfo(CK_SLOT_ID slot) const
{
    CK_TOKEN_INFO info{};
    ENSURE_SUCCESS(m_functions->C_GetTokenInfo(slot, &info));
    return info;
}

CK_SLOT_INFO Pkcs11::slotInfo(CK_SLOT_ID slot) const
{
    CK_SLOT_INFO info{};
    ENSURE_SUCCESS(m_functions->C_GetSlotInfo(slot, &info));
    return info;
}

CK_SLOT_ID Pkcs11::findtSlot(std::string_view serial) const
{
    bs::Logger log("Pkcs11::findtSlot");
    for (CK_SLOT_ID slot : slotList(true)) {
        CK_TOKEN_INFO info{};
        if (m_functions->C_GetTokenInfo(slot, &info) != CKR_OK)
            continue; // pulled out since the slot list was read
        const std::string current = bs::addLeadingZeros(pkcs11::tokenSerial(info), serial.size());
        log.debug("serialNumber: " + std::string(serial));
        log.debug("currentSerial: " + current);
        if (current == serial)
            return slot;
    }
    log.error("device not found");
    throw DeviceNotFound(std::string(serial));
}

void Pkcs11::checkPinLength(CK_SLOT_ID slot, const bytes& pin) const
{
    const CK_TOKEN_INFO info = tokenInfo(slot);
    if (pin.size() < info.ulMinPinLen || pin.size() > info.ulMaxPinLen) {
        bs::logAndThrow(bs::Logger("Pkcs11::checkPinLength"), PinLengthRange());
    }
}

CK_OBJECT_HANDLE Pkcs11::createObject(CK_SESSION_HANDLE session,
                                      const std::vector<CK_ATTRIBUTE>& pattern) const
{
    bs::Logger log("Pkcs11::createObject");
    CK_OBJECT_HANDLE object = 0;
    ENSURE_SUCCESS(m_functions->C_CreateObject(session, const_cast<CK_ATTRIBUTE*>(pattern.data()),
                                               pattern.size(), &object));
    return object;
}

void Pkcs11::deleteObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) const
{
    bs::Logger log("Pkcs11::deleteObject");
    ENSURE_SUCCESS(m_functions->C_DestroyObject(session, object));
}

std::vector<CK_OBJECT_HANDLE> Pkcs11::findObjects(CK_SESSION_HANDLE session,
                                                  const std::vector<CK_ATTRIBUTE>& pattern) const
{
    bs::Logger log("Pkcs11::findObjects");
    ENSURE_SUCCESS(
        m_functions->C_FindObjectsInit(session, const_cast<CK_ATTRIBUTE*>(pattern.data()), pattern.size()));
    std::vector<CK_OBJECT_HANDLE> objects(pkcs11::MAX_FOUND_OBJECTS);
    CK_ULONG count = 0;
    const CK_RV rv = m_functions->C_FindObjects(session, objects.data(), objects.size(), &count);
    const CK_RV finalRv = m_functions->C_FindObjectsFinal(session); // always ends the search
    ENSURE_SUCCESS(rv);
    ENSURE_SUCCESS(finalRv);
    objects.resize(std::min<std::size_t>(count, objects.size()));
    return objects;
}

bytes Pkcs11::getAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const
{
    bs::Logger log("Pkcs11::getAttributeValue");
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    ENSURE_SUCCESS(m_functions->C_GetAttributeValue(session, object, &attribute, 1));
    if (attribute.ulValueLen > pkcs11::MAX_ATTRIBUTE_LENGTH)
        pkcs11::refuseAnswer("C_GetAttributeValue: " + std::to_string(attribute.ulValueLen) + " bytes");
    bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    ENSURE_SUCCESS(m_functions->C_GetAttributeValue(session, object, &attribute, 1));
    if (attribute.ulValueLen > value.size())
        pkcs11::refuseAnswer("C_GetAttributeValue: more bytes than the buffer holds");
    value.resize(attribute.ulValueLen);
    return value;
}

void Pkcs11::setAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, const bytes& value,
                          CK_ATTRIBUTE_TYPE type) const
{
    bs::Logger log("Pkcs11::writeAttribute");
    CK_ATTRIBUTE attribute{type, const_cast<std::uint8_t*>(value.data()), value.size()};
    ENSURE_SUCCESS(m_functions->C_SetAttributeValue(session, object, &attribute, 1));
}

std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE>
Pkcs11::generateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism,
                        std::vector<CK_ATTRIBUTE>& publicTemplate,
                        std::vector<CK_ATTRIBUTE>& privateTemplate) const
{
    bs::Logger log("Pkcs11::generateKeyPair");
    CK_MECHANISM generation{mechanism, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    const CK_RV rv = m_functions->C_GenerateKeyPair(session, &generation, publicTemplate.data(),
                                                    publicTemplate.size(), privateTemplate.data(),
                                                    privateTemplate.size(), &publicKey, &privateKey);
    switch (rv) {
    case CKR_HOST_MEMORY:
    case CKR_GENERAL_ERROR:
    case CKR_FUNCTION_FAILED:
    case CKR_DEVICE_MEMORY:
    case pkcs11::VENDOR_NO_ROOM:
        bs::logAndThrow(log, CardIsFull());
    default:
        ENSURE_SUCCESS(rv);
    }
    return {publicKey, privateKey};
}

bytes Pkcs11::sign(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key,
                   const bytes& data) const
{
    bs::Logger log("Pkcs11::sign");
    CK_MECHANISM signing{mechanism, nullptr, 0};
    ENSURE_SUCCESS(m_functions->C_SignInit(session, &signing, key));
    auto* input = const_cast<std::uint8_t*>(data.data());
    // A buffer for the longest signature (RSA 4096) spares the size query;
    // a module that wants more says so and keeps the operation.
    bytes signature(512);
    CK_ULONG length = signature.size();
    CK_RV rv = m_functions->C_Sign(session, input, data.size(), signature.data(), &length);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        pkcs11::checkOutputLength(length, pkcs11::MAX_OUTPUT_LENGTH, "C_Sign");
        signature.assign(length, 0);
        rv = m_functions->C_Sign(session, input, data.size(), signature.data(), &length);
    }
    ENSURE_SUCCESS(rv);
    pkcs11::checkOutputLength(length, signature.size(), "C_Sign");
    signature.resize(length);
    return signature;
}

bool Pkcs11::verify(CK_SESSION_HANDLE session, const CK_MECHANISM& mechanism, CK_OBJECT_HANDLE key,
                    const bytes& data, const bytes& signature) const
{
    bs::Logger log("Pkcs11::verify");
    ENSURE_SUCCESS(m_functions->C_VerifyInit(session, const_cast<CK_MECHANISM*>(&mechanism), key));
    const CK_RV rv = m_functions->C_Verify(session, const_cast<std::uint8_t*>(data.data()), data.size(),
                                           const_cast<std::uint8_t*>(signature.data()), signature.size());
    if (rv == CKR_SIGNATURE_INVALID) {
        log.error(pkcs11::returnValueName(static_cast<std::uint32_t>(rv)));
        return false;
    }
    ENSURE_SUCCESS(rv);
    return true;
}
