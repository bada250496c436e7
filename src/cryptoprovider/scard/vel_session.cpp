#include "cryptoprovider/scard/vel_session.h"

#include <exception>

#include "base/logger.h"
#include "base/secure.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/wipe.h"
#include "cryptoprovider/scard/vel_device.h"

VelTokenSession::VelTokenSession(std::string_view reader, std::wstring_view pin)
    : m_provider(std::make_shared<SCardProvider>(reader)), m_transaction(*m_provider)
{
    bs::Logger log("VelTokenSession::VelTokenSession");
    bytes pinData = veltoken::getPasswordData(pin);
    const pcsc::WipeOnExit wipePin(pinData);
    apdu::Command check(0x00, 0x20, 0x01, 0x01, pinData);
    try {
        apdu::Response response = veltoken::executeSecret(*m_provider, check);
        const pcsc::WipeOnExit wipeResponse(response.getBytes());
        m_token = response.getData();
    } catch (const KeyBlocked& blocked) {
        // The device may block for good or only for this attempt: its own
        // count of tries decides (none left is KeyBlocked again).
        const int tries = veltoken::pinTries(m_provider);
        log.error("tries left: " + std::to_string(tries));
        if (tries <= 0)
            throw;
        throw bs::withVendorCode(InvalidPassword(tries), blocked.vendorCode());
    }
}

VelTokenSession::~VelTokenSession()
{
    if (m_provider->isConnected()) {
        try {
            apdu::Command end(0x00, 0x20, 0x02, 0x01, m_token);
            veltoken::executeSecret(*m_provider, end);
        } catch (const std::exception& e) {
            bs::Logger log("VelTokenSession::~VelTokenSession");
            log.error(e.what());
        }
    }
    bs::secureZero(&m_token);
}
