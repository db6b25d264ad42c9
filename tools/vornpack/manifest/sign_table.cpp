// [sign]: the command that signs the finished installer, and how long it may take.
#include "tools/vornpack/build/signing.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

// [sign] timeout = SECONDS: how long the signing command may take.
std::chrono::seconds ParseSignTimeLimit(const TChecker& check, const toml::node& node) {
    constexpr int64_t kLongestLimit = 24 * 60 * 60;
    const auto* seconds = node.as_integer();
    if (!seconds) check.WrongType(node, "sign.timeout", "an integer (seconds)");
    if (seconds->get() < 1 || seconds->get() > kLongestLimit)
        check.Fail(node, "sign.timeout", "must be from 1 to 86400 seconds");
    return std::chrono::seconds(seconds->get());
}

}  // namespace

// [sign] command = ["tool", "arg", "{in}", ...]: an argument list, run
// without a shell, that must name both the unsigned and the signed file.
// Without it, [sign] may hold only the time limit for --sign-command.
std::vector<std::string> ParseSign(const TChecker& check, const toml::node& node, TManifest& manifest) {
    const auto* table = node.as_table();
    if (!table) check.Fail(node, "sign", "must be a table with a command");
    check.OnlyKeys(*table, {"command", "timeout"}, "sign.");
    if (const auto* limit = table->get("timeout")) manifest.signTimeLimit = ParseSignTimeLimit(check, *limit);
    const auto* command = table->get("command");
    if (!command && table->contains("timeout")) return {};
    if (!command) check.Fail(node, "sign.command", "is missing");
    const auto* args = command->as_array();
    if (!args || args->empty()) check.Fail(*command, "sign.command", "must be a list of arguments");
    std::vector<std::string> result;
    for (const auto& arg : *args) {
        if (!arg.is_string()) check.Fail(arg, "sign.command", "every argument must be a string");
        result.push_back(arg.as_string()->get());
    }
    const std::string missing = MissingPlaceholder(result);
    if (!missing.empty()) check.Fail(*command, "sign.command", "must name the installer's file with " + missing);
    return result;
}

}  // namespace vorn::pack
