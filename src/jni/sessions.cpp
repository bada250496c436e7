#include "jni/sessions.h"

#include <algorithm>
#include <stdexcept>

#include "base/conv.h"
#include "base/random.h"
#include "jni/errors.h"

std::mutex Sessions::m_mutex;
Sessions m_sessions;

std::string Sessions::open(bool kalvaMode)
{
    std::string id = conv::bytes_to_hex(bs::getRandomBytes(16));
    auto session = std::make_shared<Session>(id, getCryptoProvider(), kalvaMode);
    std::lock_guard lock(m_mutex);
    m_list.push_back(std::move(session));
    return id;
}

std::shared_ptr<Session> Sessions::find(std::string_view id) const
{
    {
        std::lock_guard lock(m_mutex);
        for (const auto& session : m_list) {
            if (session && session->id == id) {
                return session;
            }
        }
    }
    throw bs::standardError<std::runtime_error>(ormid_signer::localization, "BS-001001");
}

void Sessions::close(std::string_view id)
{
    const std::shared_ptr<Session> session = find(id);
    std::lock_guard lock(m_mutex);
    std::erase(m_list, session);
}

std::size_t Sessions::size() const
{
    std::lock_guard lock(m_mutex);
    return m_list.size();
}
