#include "encoder/AacProfile.h"

const char* ProfileName(AacProfile profile)
{
    switch (profile) {
    case AacProfile::HeV2:
        return "HE-AAC v2";
    case AacProfile::HeV1:
        return "HE-AAC v1";
    case AacProfile::Lc:
        break;
    }
    return "AAC-LC";
}
