// One authenticated conversation with the confirmation token: the PIN check,
// the commands that need it and the end of the session, all inside one PC/SC
// transaction so that no other connection interleaves commands.
#pragma once

#include <memory>
#include <string_view>

#include "asn1/bytes.h"
#include "cryptoprovider/pcsc/scard_provider.h"

class VelTokenSession
{
  public:
    // Connects to `reader`, begins a transaction and checks `pin` on the
    // device; the device's answer is the session token. A wrong PIN is
    // InvalidPassword with the device's tries (KeyBlocked when none are
    // left, also when the device reports the key blocked); other status
    // words and PC/SC failures pass through. On failure no session exists:
    // the transaction is ended and the connection released before the
    // exception leaves.
    VelTokenSession(std::string_view reader, std::wstring_view pin);
    // Ends the session on the device (when the card is still connected),
    // then the transaction; failures are not propagated. The session token
    // is wiped.
    ~VelTokenSession();
    VelTokenSession(const VelTokenSession&) = delete;
    VelTokenSession& operator=(const VelTokenSession&) = delete;

    // The bytes the device returned to the PIN check.
    const bytes& token() const noexcept { return m_token; }
    SCardProvider& provider() noexcept { return *m_provider; }

  private:
    std::shared_ptr<SCardProvider> m_provider;
    ScardTransaction m_transaction;
    bytes m_token;
};
