#include "encoder/EncoderConfig.h"

const char* CodecName(Codec codec)
{
    switch (codec) {
    case Codec::Mp3:
        return "MP3";
    case Codec::Opus:
        return "Opus";
    case Codec::Aac:
        break;
    }
    return "AAC";
}
