// Owners of a PKCS#11 session and of a login on it. Both are move-only and
// release their handle in the destructor, never throwing.
#pragma once

#include <memory>

#include "asn1/bytes.h"
#include "cryptoprovider/pkcs11/module.h"

namespace pkcs11
{

// One open session on one slot of a module; keeps the module loaded.
class Session
{
  public:
    static constexpr CK_FLAGS READ_WRITE = CKF_SERIAL_SESSION | CKF_RW_SESSION;

    // C_OpenSession on `slot` with `flags` (CKF_SERIAL_SESSION is always
    // added). Failures through ENSURE_SUCCESS; std::invalid_argument for a
    // null module.
    Session(std::shared_ptr<Pkcs11> module, CK_SLOT_ID slot, CK_FLAGS flags = READ_WRITE);
    // C_CloseSession, errors ignored.
    ~Session();
    Session(Session&& other) noexcept;
    Session& operator=(Session&& other) noexcept;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::shared_ptr<Pkcs11>& module() const noexcept { return m_module; }
    CK_SLOT_ID slot() const noexcept { return m_slot; }
    // 0 once closed or moved from.
    CK_SESSION_HANDLE handle() const noexcept { return m_handle; }

    // Closes now (errors ignored); the destructor then does nothing.
    void close() noexcept;

  private:
    std::shared_ptr<Pkcs11> m_module;
    CK_SLOT_ID m_slot = 0;
    CK_SESSION_HANDLE m_handle = 0;
};

// A login scope: C_Login on construction, C_Logout on destruction. Must not
// outlive its session (a logout on a closed session is ignored anyway).
class Login
{
  public:
    // Checks the PIN length against the token (PinLengthRange), then logs in
    // as `userType` (CKU_USER or CKU_SO). Failures through ENSURE_SUCCESS
    // (PinBlocked, pkcs11::Exception CKR_PIN_INCORRECT, ...). The PIN is
    // neither kept nor logged; the copy handed to the module is wiped.
    Login(const Session& session, CK_USER_TYPE userType, const bytes& pin);
    // C_Logout, errors ignored.
    ~Login();
    Login(Login&& other) noexcept;
    Login& operator=(Login&& other) noexcept;
    Login(const Login&) = delete;
    Login& operator=(const Login&) = delete;

    CK_USER_TYPE userType() const noexcept { return m_userType; }
    // Logs out now (errors ignored); the destructor then does nothing.
    void logout() noexcept;

  private:
    std::shared_ptr<Pkcs11> m_module;
    CK_SESSION_HANDLE m_session = 0;
    CK_USER_TYPE m_userType = CKU_USER;
};

} // namespace pkcs11
