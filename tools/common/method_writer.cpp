#include "tools/common/method_writer.h"

namespace vorn::tools {

std::vector<std::string> WritableMethodNames() {
    std::vector<std::string> names;
    for (const TMethodIdentity& method : kMethodTable) names.emplace_back(method.Name);
    return names;
}

}  // namespace vorn::tools
