#include "compress/custom_methods.h"

#include "compress/lzma/lzma_method.h"

namespace vorn {

void UseCustomMethods(TVornCodec& codec) { lzma::UseLzmaMethod(codec); }

}  // namespace vorn
