// The options stub's settings resource and command line over arbitrary
// bytes (the settings up to the first line break, the switches after it):
// both must be read or refused without fault. What the switches take are
// views into the command line, and a folder /D= takes is a full path into
// which the product folder's files move, and nothing else.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "setup/install_options.h"

namespace {

bool Within(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

// "X:" (a drive's root, its "\\" dropped), "X:\..." or "\\server\share...".
bool IsFullPath(std::string_view folder) {
    const bool letter = !folder.empty() && ((folder[0] >= 'a' && folder[0] <= 'z') || (folder[0] >= 'A' && folder[0] <= 'Z'));
    if (letter && folder.size() >= 2 && folder[1] == ':') return folder.size() == 2 || folder[2] == '\\';
    const size_t share = folder.find('\\', 2);
    return folder.starts_with("\\\\") && share != std::string_view::npos && share > 2 && share + 1 < folder.size();
}

void CheckMoves(std::string_view installFolder) {
    using vorn::setup::MovedInto;
    if (!IsFullPath(installFolder) || installFolder.find_first_of("<>\"") != std::string_view::npos) std::abort();
    const std::string product = "c:\\program files\\product";
    const std::string moved = MovedInto(product + "\\bin\\app.exe", product, installFolder);
    if (moved != std::string(installFolder) + "\\bin\\app.exe") std::abort();
    for (const std::string& outside : {product, product + "s\\app.exe", std::string("c:\\windows\\app.dll")})
        if (MovedInto(outside, product, installFolder) != outside) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t lineBreak = input.find('\n');
    const std::string_view settings = lineBreak == std::string_view::npos ? "" : input.substr(0, lineBreak);
    const std::string_view arguments = lineBreak == std::string_view::npos ? input : input.substr(lineBreak + 1);
    vorn::setup::TInstallOptions options = vorn::setup::ReadSettings(settings);
    const vorn::setup::TSwitchProblem problem = vorn::setup::ParseSwitches(arguments, options);
    if (!Within(options.installFolder, arguments) || !Within(options.logPath, arguments) ||
        !Within(problem.argument, arguments))
        std::abort();
    if (problem.reason) return problem.Text().empty() ? (std::abort(), 0) : 0;
    if (!options.installFolder.empty()) CheckMoves(options.installFolder);
    return 0;
}
