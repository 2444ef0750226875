// The exception types of the audio code, on top of the base ones (CException,
// CFileException), which every user of this header gets with it.
#pragma once

#include "base/exception.h"

namespace lyb::audio {

// The decoding job refused its input; what() says why, for the user (see
// kInvalidHeaderText and UnsupportedFormatText in wave_decoder.h).
class CWaveDecoderException : public CException {
public:
    using CException::CException;
};

}  // namespace lyb::audio
