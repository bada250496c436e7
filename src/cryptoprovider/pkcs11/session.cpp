#include "cryptoprovider/pkcs11/session.h"

#include <stdexcept>
#include <utility>

#include "base/logger.h"
#include "base/secure.h"

namespace pkcs11
{

Session::Session(std::shared_ptr<Pkcs11> module, CK_SLOT_ID slot, CK_FLAGS flags)
    : m_module(std::move(module)), m_slot(slot)
{
    if (!m_module)
        throw std::invalid_argument("no PKCS#11 module");
    bs::Logger log("Pkcs11::openSession");
    CK_SESSION_HANDLE handle = 0;
    ENSURE_SUCCESS(
        m_module->get()->C_OpenSession(slot, flags | CKF_SERIAL_SESSION, nullptr, nullptr, &handle));
    m_handle = handle;
    log.debug("session: " + std::to_string(handle));
}

Session::~Session()
{
    close();
}

Session::Session(Session&& other) noexcept
    : m_module(std::move(other.m_module)), m_slot(other.m_slot), m_handle(std::exchange(other.m_handle, 0))
{
}

Session& Session::operator=(Session&& other) noexcept
{
    if (this != &other) {
        close();
        m_module = std::move(other.m_module);
        m_slot = other.m_slot;
        m_handle = std::exchange(other.m_handle, 0);
    }
    return *this;
}

void Session::close() noexcept
{
    if (m_handle != 0 && m_module)
        m_module->get()->C_CloseSession(m_handle);
    m_handle = 0;
}

Login::Login(const Session& session, CK_USER_TYPE userType, const bytes& pin)
    : m_module(session.module()), m_session(session.handle()), m_userType(userType)
{
    bs::Logger log(userType == CKU_SO ? "Pkcs11::loginAdmin" : "Pkcs11::loginUser");
    if (!m_module || m_session == 0)
        throw std::invalid_argument("no open PKCS#11 session");
    m_module->checkPinLength(session.slot(), pin);
    bytes copy = pin; // the module takes a writable buffer
    const CK_RV rv = m_module->get()->C_Login(m_session, userType, copy.data(), copy.size());
    bs::secureZero(&copy);
    if (rv != CKR_OK) {
        m_session = 0;
        ENSURE_SUCCESS(rv);
    }
}

Login::~Login()
{
    logout();
}

Login::Login(Login&& other) noexcept
    : m_module(std::move(other.m_module)), m_session(std::exchange(other.m_session, 0)),
      m_userType(other.m_userType)
{
}

Login& Login::operator=(Login&& other) noexcept
{
    if (this != &other) {
        logout();
        m_module = std::move(other.m_module);
        m_session = std::exchange(other.m_session, 0);
        m_userType = other.m_userType;
    }
    return *this;
}

void Login::logout() noexcept
{
    if (m_session != 0 && m_module)
        m_module->get()->C_Logout(m_session);
    m_session = 0;
}

} // namespace pkcs11
