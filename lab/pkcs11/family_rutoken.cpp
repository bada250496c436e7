#include "module.h"

const char* labtoken::moduleFamily()
{
    return "rutoken";
}

LAB_EXPORT CK_RV C_EX_GetTokenInfoExtended(CK_SLOT_ID slot, pkcs11::TokenInfoExtended* info)
{
    return labtoken::getTokenInfoExtended(slot, info);
}
