// The token key store: construction, the token lock and session, login and PINs.
#include "cryptoprovider/pkcs11/pkcs11_token.h"

#include <map>
#include <mutex>

#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pkcs11/return_values.h"
#include "cryptoprovider/pkcs11/token_secrets.h"

using pkcs11::Wiped;

// ---- token session ----

Pkcs11Token::TokenSession::TokenSession(Pkcs11Token* token) : m_token(token), m_lock(token->tokenMutex())
{
    if (m_token->m_helper) {
        m_helper = m_token->m_helper.get();
        return; // inside a session of this thread
    }
    const Wiped<std::wstring> pin(m_token->hasPinCode() ? m_token->getCachedPin() : std::wstring());
    open(*pin);
}

Pkcs11Token::TokenSession::TokenSession(Pkcs11Token* token, std::wstring_view pin)
    : m_token(token), m_lock(token->tokenMutex())
{
    if (m_token->m_helper) {
        m_helper = m_token->m_helper.get();
        return;
    }
    open(pin); // no unwiped copy of the PIN is made
}

void Pkcs11Token::TokenSession::open(std::wstring_view pin)
{
    m_token->login(pin);
    m_outer = true;
    m_helper = m_token->m_helper.get();
}

Pkcs11Token::TokenSession::~TokenSession()
{
    if (m_outer) {
        m_token->logout();
    }
}

// ---- construction ----

Pkcs11Token::Pkcs11Token(std::string_view name, std::string_view cryptoType, std::string_view chipType,
                         PACKAGE package, std::string modulePath)
    : HardwareDevice(name, cryptoType, chipType, package), m_modulePath(std::move(modulePath))
{
    Pkcs11::instance(m_modulePath, true);
}

Pkcs11Token::~Pkcs11Token() = default;

std::recursive_mutex& Pkcs11Token::tokenMutex()
{
    std::call_once(m_tokenMutexOnce, [this] {
        static std::mutex registryMutex;
        static std::map<std::string, std::weak_ptr<std::recursive_mutex>> registry;
        const std::string key = m_modulePath + '\n' + pkcs11Serial();
        std::lock_guard lock(registryMutex);
        m_tokenMutex = registry[key].lock();
        if (!m_tokenMutex) {
            m_tokenMutex = std::make_shared<std::recursive_mutex>();
            registry[key] = m_tokenMutex;
        }
    });
    return *m_tokenMutex;
}

std::string Pkcs11Token::pkcs11Serial() const
{
    bs::Logger log("Pkcs11Token::pkcs11Serial");
    return id();
}

CK_TOKEN_INFO Pkcs11Token::tokenInfo()
{
    bs::Logger log("Pkcs11Token::tokenInfo");
    const std::shared_ptr<Pkcs11> module = Pkcs11::instance(m_modulePath, true);
    for (const CK_SLOT_ID slot : module->slotList(true)) {
        const CK_SLOT_INFO info = module->slotInfo(slot);
        const std::string description(std::begin(info.slotDescription), std::end(info.slotDescription));
        log.debug("slot: " + description);
        if (description.find(name()) != std::string::npos) {
            return module->tokenInfo(slot);
        }
    }
    throw DeviceNotFound(name());
}

void Pkcs11Token::connectReader()
{
    SCardProvider reader(name());
}

// ---- login ----

void Pkcs11Token::login(std::wstring_view pin)
{
    bs::Logger log("Pkcs11Token::login");
    if (hasPinCode() && pin.empty()) {
        throw PinLengthRange();
    }
    const Wiped<bytes> pinBytes(hasPinCode() ? makePasswordHash(pin) : bytes());
    const std::shared_ptr<Pkcs11> module = Pkcs11::instance(m_modulePath, true);
    const auto open = [&] {
        m_helper =
            std::make_shared<pkcs11::Helper>(module, pkcs11Serial(), pkcs11::SessionMode::User, *pinBytes);
    };
    try {
        try {
            open();
        } catch (const pkcs11::Exception& error) {
            if (error.code() != CKR_USER_ALREADY_LOGGED_IN &&
                error.code() != CKR_USER_ANOTHER_ALREADY_LOGGED_IN) {
                throw;
            }
            // A login left behind by a logout that failed: the sessions of
            // this process share it and none of our operations runs (token
            // sessions are serialised), so end it and log in anew.
            log.warning(error.name());
            endStaleLogin(module);
            open();
        }
    } catch (const pkcs11::Exception& error) {
        if (error.code() != CKR_PIN_INCORRECT) {
            throw;
        }
        if (isUserPinDefault()) {
            setIsUserPinDefault(false);
            throw PinRequired();
        }
        handlePinError(error.code());
    }
}

void Pkcs11Token::endStaleLogin(const std::shared_ptr<Pkcs11>& module)
{
    const pkcs11::Helper session(module, pkcs11Serial(), pkcs11::SessionMode::Public, {});
    module->get()->C_Logout(session.session());
}

void Pkcs11Token::logout()
{
    bs::Logger log("Pkcs11Token::logout");
    m_helper.reset();
}

void Pkcs11Token::handlePinError(CK_RV rv)
{
    bs::Logger log("Pkcs11Token::handlePinError");
    const int tries = pinTries();
    if (tries > 0) {
        bs::logAndThrow(log, bs::withVendorCode(InvalidPassword(tries), rv));
    }
    bs::logAndThrow(log, bs::withVendorCode(PinBlocked(), rv));
}

void Pkcs11Token::setPin(std::wstring_view pin)
{
    bs::Logger log("Pkcs11Token::setPin");
    deleteCachedPin();
    if (hasPinCode() && pin.empty()) {
        throw PinLengthRange();
    }
    {
        TokenSession session(this, pin);
    }
    setCachedPin(pin);
}

void Pkcs11Token::changePin(std::wstring_view newPin)
{
    bs::Logger log("Pkcs11Token::changePin");
    TokenSession session(this);
    const Wiped<std::wstring> oldPin(getCachedPin());
    const Wiped<bytes> oldBytes(makePasswordHash(*oldPin));
    const Wiped<bytes> newBytes(makePasswordHash(newPin));
    session.helper().changePin(*oldBytes, *newBytes);
    setCachedPin(newPin);
}
