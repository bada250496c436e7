#include "module.h"

const char* labtoken::moduleFamily()
{
    return "angara";
}
