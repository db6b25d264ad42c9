#include "compress/lzma/x86_convert.h"
#include "compress/lzma/x86_filter.h"

namespace vorn::lzma {

template class TX86Converter<X86Direction::Encode>;

}  // namespace vorn::lzma
