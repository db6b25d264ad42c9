// What vornpack refuses because the installer could never install it, one
// row per rule, and what the manifest lets a vendor waive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tools/vornpack/manifest.h"
#include "tools/vornpack/stub_manifest.h"

namespace vorn::pack {
namespace {

namespace fs = std::filesystem;

// The error of a manifest whose entries all take the source "a", without
// the manifest's path; "" when it is accepted.
std::string Refusal(const std::string& toml) {
    const fs::path dir = fs::temp_directory_path() / "vorn_destination_rules_test";
    fs::create_directories(dir);
    std::ofstream(dir / "a") << "a";
    try {
        ParseManifest(toml, dir / "app.toml");
        return "";
    } catch (const EManifestError& e) {
        return e.Message.substr((dir / "app.toml").string().size() + 1);
    }
}

std::string File(const std::string& destination, const std::string& more = "") {
    return "[[file]]\nsource = 'a'\ndestination = \"" + destination + "\"\n" + (more.empty() ? "" : more + "\n");
}

TEST(DestinationRules, EachRuleRefusesWithLineReasonAndNameAndCanBeWaived) {
    const std::string x236(236, 'x');
    const struct {
        std::string toml, error, rule;
    } cases[] = {
        {File("<p>\\\\" + x236), "", ""},  // 259 with C:\Program Files (x86)
        {File("<P>\\\\" + x236 + "y"), "3: destination: is 260 characters long where the folder macros", "length"},
        {File("app\\\\" + std::string(253, 'x')), "3: destination: is 260 characters long", "length"},  // C:\ added
        {File("<w>\\\\<u>\\\\<u>.log"), "3: destination: the installer replaces only the first <u>", "second-stamp"},
        {File("c:\\\\app\\\\a?b.txt"), "3: destination: \"a?b.txt\" holds \"?\", which Windows", "forbidden-character"},
        {File("c:\\\\app\\\\a:b"), "3: destination: \"a:b\" holds \":\"", "forbidden-character"},
        {File("c:\\\\a\\tb"), "3: destination: holds the control character 9", "control-character"},
        {File("c:\\\\App\\\\Con\\\\a.txt"), "3: destination: \"con\" is the device con on Windows", "device-name"},
        {File("<s>\\\\LPT1 .txt"), "3: destination: \"lpt1 .txt\" is the device lpt1", "device-name"},
        {File("c:\\\\console.txt"), "", ""},
        {File("c:\\\\app.\\\\a"), "3: destination: \"app.\" ends in a space or a dot", "trailing-space-or-dot"},
        {File("c:\\\\app \\\\a"), "3: destination: \"app \" ends in a space or a dot", "trailing-space-or-dot"},
        {File("c:/App/a") + File("C:\\\\app\\\\A"), "4: destination: the same destination as the entry at line 1",
         "duplicate"},
        {File("c:\\\\a", "run = 'at-end'") + File("c:\\\\b", "run = 'at-end'"),
         "1: run: never runs: the entry at line 5 is also run at the end", "run-at-end"},
        {File("c:\\\\nul", "no-check = ['device-name']"), "", ""},
        {File("c:\\\\a", "no-check = ['devices']"), "4: no-check: no such rule; the rules are length, second-", ""},
        {"elevation = 'root'\n" + File("c:\\\\a"), "1: elevation: must be \"admin\" or \"user\"", ""},
    };
    for (const auto& c : cases) {
        const std::string error = Refusal(c.toml);
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.toml;
        EXPECT_EQ(error.empty(), c.error.empty()) << error;
        const std::string waiver = "(rule " + c.rule + "; no-check = [\"" + c.rule + "\"] in the entry waives it)";
        EXPECT_TRUE(c.rule.empty() || error.ends_with(waiver)) << error;
    }
}

// The level is rewritten in place (vornpack_cli_test), in the one slot there must be.
TEST(StubManifest, AStubWithoutExactlyOneLevelSlotIsRefused) {
    const std::string tag = "<requestedExecutionLevel ", admin = "level=\"requireAdministrator\" uiAccess=\"false\"/>";
    const std::string unpadded = tag + "level=\"asInvoker\" uiAccess=\"false\"/>";
    for (const std::string& stub : {"MZ" + admin, tag + admin + tag + admin, unpadded}) {
        std::vector<uint8_t> bytes(stub.begin(), stub.end());
        EXPECT_THROW(SetElevation(bytes, Elevation::User), EVornError) << stub;
    }
}

}  // namespace
}  // namespace vorn::pack
