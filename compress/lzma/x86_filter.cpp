#include "compress/lzma/x86_filter.h"

#include "compress/lzma/x86_convert.h"

namespace vorn::lzma {

template class TX86Converter<X86Direction::Decode>;

}  // namespace vorn::lzma
