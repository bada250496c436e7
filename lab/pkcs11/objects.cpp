// Creating, reading, changing, finding and destroying objects.
#include <cstring>

#include "calls.h"

using namespace labtoken;

LAB_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                CK_OBJECT_HANDLE_PTR phObject)
{
    return call("C_CreateObject", sessionDetail(hSession), [&]() -> CK_RV {
        if (!phObject)
            fail(CKR_ARGUMENTS_BAD);
        Session& s = session(hSession);
        Attributes a = readTemplate(pTemplate, ulCount);
        auto cls = ulongAttr(a, CKA_CLASS);
        if (!cls)
            fail(CKR_TEMPLATE_INCOMPLETE);
        if (*cls > CKO_SECRET_KEY)
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        checkRejected(liveDevice(s), a);
        a = withDefaults(std::move(a), *cls);
        if ((*cls == CKO_CERTIFICATE || *cls == CKO_PRIVATE_KEY) && !a.count(CKA_VALUE) &&
            !a.count(CKA_MODULUS))
            fail(CKR_TEMPLATE_INCOMPLETE);
        if ((*cls == CKO_PUBLIC_KEY || *cls == CKO_PRIVATE_KEY) && !ulongAttr(a, CKA_KEY_TYPE))
            fail(CKR_TEMPLATE_INCOMPLETE);
        if (boolAttr(a, CKA_PRIVATE, false) && loginOf(s.serial) != CKU_USER)
            fail(CKR_USER_NOT_LOGGED_IN);
        *phObject = storeObjects(hSession, s, {std::move(a)}).front();
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return call("C_DestroyObject", sessionDetail(hSession) + " object=" + std::to_string(hObject),
                [&]() -> CK_RV {
                    Session& s = session(hSession);
                    FoundObject o = findObject(s, hObject);
                    if (!o.onToken) {
                        g.sessionObjects.erase(hObject);
                        return CKR_OK;
                    }
                    if (!isRw(s))
                        fail(CKR_SESSION_READ_ONLY);
                    updateDevice(s, [&](Device& d) {
                        if (!d.removeObject(hObject))
                            fail(CKR_OBJECT_HANDLE_INVALID);
                    });
                    return CKR_OK;
                });
}

LAB_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return call("C_GetAttributeValue", sessionDetail(hSession) + " object=" + std::to_string(hObject),
                [&]() -> CK_RV {
                    if (ulCount && !pTemplate)
                        fail(CKR_ARGUMENTS_BAD);
                    Session& s = session(hSession);
                    FoundObject o = findObject(s, hObject);
                    const auto cls = ulongAttr(o.attributes, CKA_CLASS);
                    const bool secret = (cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY) &&
                                        (boolAttr(o.attributes, CKA_SENSITIVE, true) ||
                                         !boolAttr(o.attributes, CKA_EXTRACTABLE, false));
                    CK_RV rv = CKR_OK;
                    for (CK_ULONG i = 0; i < ulCount; ++i) {
                        CK_ATTRIBUTE& a = pTemplate[i];
                        auto it = o.attributes.find(a.type);
                        if (isInternal(a.type) || it == o.attributes.end()) {
                            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                            rv = CKR_ATTRIBUTE_TYPE_INVALID;
                        } else if (secret && isSensitiveType(a.type)) {
                            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                            rv = CKR_ATTRIBUTE_SENSITIVE;
                        } else if (!a.pValue) {
                            a.ulValueLen = it->second.size();
                        } else if (a.ulValueLen < it->second.size()) {
                            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                            rv = CKR_BUFFER_TOO_SMALL;
                        } else {
                            if (!it->second.empty())
                                std::memcpy(a.pValue, it->second.data(), it->second.size());
                            a.ulValueLen = it->second.size();
                        }
                    }
                    return rv;
                });
}

LAB_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return call("C_SetAttributeValue", sessionDetail(hSession) + " object=" + std::to_string(hObject),
                [&]() -> CK_RV {
                    Session& s = session(hSession);
                    Attributes changes = readTemplate(pTemplate, ulCount);
                    FoundObject o = findObject(s, hObject);
                    if (!boolAttr(o.attributes, CKA_MODIFIABLE, true))
                        fail(CKR_ATTRIBUTE_READ_ONLY);
                    const auto cls = ulongAttr(o.attributes, CKA_CLASS);
                    const bool key = cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY;
                    for (const auto& [type, value] : changes) {
                        switch (type) {
                        case CKA_CLASS:
                        case CKA_TOKEN:
                        case CKA_PRIVATE:
                        case CKA_KEY_TYPE:
                        case CKA_CERTIFICATE_TYPE:
                        case CKA_LOCAL:
                        case CKA_KEY_GEN_MECHANISM:
                        case CKA_ALWAYS_SENSITIVE:
                        case CKA_NEVER_EXTRACTABLE:
                        case CKA_MODULUS:
                        case CKA_MODULUS_BITS:
                        case CKA_PUBLIC_EXPONENT:
                        case CKA_MODIFIABLE:
                            fail(CKR_ATTRIBUTE_READ_ONLY);
                        case CKA_VALUE:
                        case CKA_GOSTR3410_PARAMS:
                        case CKA_GOSTR3411_PARAMS:
                            if (key)
                                fail(CKR_ATTRIBUTE_READ_ONLY);
                            break;
                        default:
                            break;
                        }
                    }
                    checkRejected(liveDevice(s), changes);
                    if (!o.onToken) {
                        for (auto& [type, value] : changes)
                            g.sessionObjects[hObject].object.attributes[type] = value;
                        return CKR_OK;
                    }
                    if (!isRw(s))
                        fail(CKR_SESSION_READ_ONLY);
                    updateDevice(s, [&](Device& d) {
                        TokenObject* t = d.findObject(hObject);
                        if (!t)
                            fail(CKR_OBJECT_HANDLE_INVALID);
                        for (auto& [type, value] : changes)
                            t->attributes[type] = value;
                    });
                    return CKR_OK;
                });
}

LAB_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return call("C_FindObjectsInit", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.findActive)
            fail(CKR_OPERATION_ACTIVE);
        if (ulCount && !pTemplate)
            fail(CKR_ARGUMENTS_BAD);
        Attributes wanted;
        bool impossible = false;
        for (CK_ULONG i = 0; i < ulCount; ++i) {
            const CK_ATTRIBUTE& a = pTemplate[i];
            if (a.ulValueLen && !a.pValue)
                fail(CKR_ARGUMENTS_BAD);
            if (a.ulValueLen > (1UL << 24))
                fail(CKR_ATTRIBUTE_VALUE_INVALID);
            const auto* p = static_cast<const std::uint8_t*>(a.pValue);
            Bytes v = a.ulValueLen ? Bytes(p, p + a.ulValueLen) : Bytes{};
            auto [it, fresh] = wanted.emplace(a.type, v);
            if (!fresh && it->second != v)
                impossible = true;
            if (isInternal(a.type))
                impossible = true;
        }
        auto matches = [&](const Attributes& attrs) {
            if (impossible || !visible(attrs, s))
                return false;
            for (const auto& [type, value] : wanted) {
                auto it = attrs.find(type);
                if (it == attrs.end() || it->second != value)
                    return false;
            }
            return true;
        };
        s.found.clear();
        Device d = liveDevice(s);
        for (const auto& o : d.objects)
            if (matches(o.attributes))
                s.found.push_back(o.handle);
        for (const auto& [h, o] : g.sessionObjects)
            if (o.serial == s.serial && matches(o.object.attributes))
                s.found.push_back(h);
        s.foundPos = 0;
        s.findActive = true;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                               CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount)
{
    return call("C_FindObjects", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.findActive)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        if (!pulObjectCount || (ulMaxObjectCount && !phObject))
            fail(CKR_ARGUMENTS_BAD);
        CK_ULONG n = 0;
        while (n < ulMaxObjectCount && s.foundPos < s.found.size())
            phObject[n++] = s.found[s.foundPos++];
        *pulObjectCount = n;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return call("C_FindObjectsFinal", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.findActive)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        s.findActive = false;
        s.found.clear();
        return CKR_OK;
    });
}
