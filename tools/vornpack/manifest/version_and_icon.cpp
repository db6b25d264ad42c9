// [version] and icon: what Explorer shows of the installer.
#include "tools/vornpack/build/source_file.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

// An icon of every size Windows shows, in PNG, takes well under 4 MiB;
// a larger file is refused before it is read.
constexpr int64_t kMaxIconSize = int64_t{4} << 20;

// The [version] keys and the string each one sets, in the order written.
constexpr std::pair<const char*, const char*> kVersionStrings[] = {
    {"company", "CompanyName"},     {"description", "FileDescription"}, {"file-version", "FileVersion"},
    {"internal-name", "InternalName"}, {"copyright", "LegalCopyright"}, {"trademarks", "LegalTrademarks"},
    {"original-filename", "OriginalFilename"}, {"product-name", "ProductName"},
    {"product-version", "ProductVersion"}, {"comments", "Comments"}};

TFourPartVersion ParseFourParts(const TChecker& check, const toml::node& node, const std::string& field) {
    const auto* text = node.as_string();
    if (!text) check.WrongType(node, field, "a string");
    const auto version = ParseVersion(text->get());
    if (!version) check.Fail(node, field, "must be four numbers from 0 to 65535, as in \"1.2.3.4\"");
    return *version;
}

}  // namespace

// [version]: the version information Explorer shows; text stays UTF-8.
TVersionInfo ParseVersionTable(const TChecker& check, const toml::node& node) {
    const auto* table = node.as_table();
    if (!table) check.WrongType(node, "version", "a table");
    std::vector<std::string> keys;
    for (const auto& [key, name] : kVersionStrings) keys.push_back(key);
    check.OnlyKeys(*table, keys, "version.");
    const auto* file = table->get("file-version");
    if (!file) check.Fail(node, "version.file-version", "is missing");
    TVersionInfo info;
    info.fileVersion = ParseFourParts(check, *file, "version.file-version");
    info.productVersion = info.fileVersion;
    if (const auto* product = table->get("product-version"))
        info.productVersion = ParseFourParts(check, *product, "version.product-version");
    for (const auto& [key, name] : kVersionStrings) {
        const auto* value = check.Get(*table, key, std::string("version.") + key, toml::node_type::string);
        if (value) info.strings.push_back({name, value->as_string()->get()});
        else if (key == std::string_view("product-version")) info.strings.push_back({name, VersionText(info.productVersion)});
    }
    try {
        VersionResourceBytes(info);
    } catch (const EFaceError& error) {
        check.Fail(node, "version", error.what());
    }
    return info;
}

// icon = "app.ico": every image of the file goes into the installer.
std::vector<TIconImage> ParseIcon(const TChecker& check, const toml::node& node, TManifest& manifest) {
    const auto* text = node.as_string();
    if (!text) check.WrongType(node, "icon", "a string");
    const std::filesystem::path path = manifest.iconPath = manifest.path.parent_path() / text->get();
    std::string quoted = path.string();  // built in place: GCC 12 misreads "\"" + text + "\""
    quoted.insert(quoted.begin(), '"');
    quoted.push_back('"');
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadCapped(path, kMaxIconSize, "the icon");
    } catch (const ESourceError& error) {
        check.Fail(node, "icon", error.Message);
    } catch (const EStreamError&) {
        check.Fail(node, "icon", quoted + " is not a readable file");
    }
    try {
        return ReadIconFile(bytes);
    } catch (const EFaceError& problem) {
        check.Fail(node, "icon", quoted + ": " + problem.what());
    }
}

}  // namespace vorn::pack
