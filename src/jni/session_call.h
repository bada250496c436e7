// The frame of the Session exports: the session id is looked up first and
// the session (with its provider) is held for the whole call.
#pragma once

#include <jni.h>

#include <memory>

#include "jni/frame.h"
#include "jni/java_conv.h"
#include "jni/sessions.h"

namespace jni
{

template <class Body> auto withSession(JNIEnv* env, jstring sessionId, Body&& body) noexcept
{
    return guarded(env, [&] {
        const std::shared_ptr<Session> session = m_sessions.find(conv::to_string(env, sessionId));
        return body(*session, *session->provider);
    });
}

} // namespace jni
