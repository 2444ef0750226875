// The exception types of the audio code, on top of the base ones (CException,
// CFileException), which every user of this header gets with it.
#pragma once

#include "base/exception.h"

namespace lyb::audio {

// The decoding job refused its input ("Invalid wav header.", "Unsupported wav format (3).").
class CWaveDecoderException : public CException {
public:
    using CException::CException;
};

}  // namespace lyb::audio
