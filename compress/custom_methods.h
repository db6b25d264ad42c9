// The methods that reach TVornCodec through its custom-method events
// (OnRecognize, OnExpand) rather than its dispatch tables. Every program
// that makes a codec to read what the tools write calls this once, so that
// a method added here is known to all of them at once.
#pragma once

#include "compress/lzma/lzma_method.h"
#include "compress/vorn_codec.h"

namespace vorn {

// Attaches every custom-door method to codec, keeping the handlers it had
// for other IDs. Inline, so that the installer's code stays as it was.
inline void UseCustomMethods(TVornCodec& codec) { lzma::UseLzmaMethod(codec); }

}  // namespace vorn
