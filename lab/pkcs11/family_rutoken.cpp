#include "module.h"

const char* labtoken::moduleFamily()
{
    return "rutoken";
}

LAB_EXPORT CK_RV C_EX_GetTokenInfoExtended(CK_SLOT_ID slot, LAB_TOKEN_INFO_EXTENDED* info)
{
    return labtoken::getTokenInfoExtended(slot, info);
}
