#include "HybridRequest.h"

#include <charconv>

namespace {

enum class Parsed { NotMine, Taken, Failed };

bool takeValue(const std::vector<std::string> &args, std::size_t *i, std::string *value,
               std::string *error)
{
    if (*i + 1 >= args.size()) {
        *error = args[*i] + " needs a value";
        return false;
    }
    *value = args[++*i];
    return true;
}

// The value of an option that sets something of the boot entry begun last.
bool setBootValue(const std::string &option, const std::string &value, BootEntryRequest *entry,
                  std::string *error)
{
    if (option == "-boot-load-size") {
        unsigned sectors = 0;
        const auto [end, problem] =
            std::from_chars(value.data(), value.data() + value.size(), sectors);
        if (problem != std::errc() || end != value.data() + value.size() || sectors == 0 ||
            sectors > 0xFFFF) {
            *error = "-boot-load-size needs a number of sectors from 1 to 65535, not " + value;
            return false;
        }
        entry->loadSize = uint16_t(sectors);
    } else if (value == "x86" || value == "efi") {
        entry->platform = value == "efi" ? ElTorito::kPlatformEfi : ElTorito::kPlatformX86;
    } else {
        *error = "-eltorito-platform " + value + ": only x86 and efi can be written";
        return false;
    }
    return true;
}

// -eltorito-boot starts an entry; the options after it apply to that entry.
Parsed parseBootOption(const std::vector<std::string> &args, std::size_t *i, HybridRequest *request,
                       std::string *error)
{
    const std::string &option = args[*i];
    std::string value;
    if (option == "-eltorito-boot") {
        if (!takeValue(args, i, &value, error))
            return Parsed::Failed;
        const std::optional<std::string> path = normalImagePath(value);
        if (!path) {
            *error = "-eltorito-boot " + value + ": not a path inside the image";
            return Parsed::Failed;
        }
        request->bootEntries.push_back({*path, std::nullopt, std::nullopt});
        return Parsed::Taken;
    }
    const bool emulation = option == "-no-emul-boot" || option == "-hard-disk-boot";
    if (!emulation && option != "-boot-load-size" && option != "-eltorito-platform")
        return Parsed::NotMine;
    if (request->bootEntries.empty()) {
        *error = option + " needs an -eltorito-boot before it";
        return Parsed::Failed;
    }
    BootEntryRequest &entry = request->bootEntries.back();
    if (emulation) {
        const ElTorito::Emulation kind =
            option == "-no-emul-boot" ? ElTorito::Emulation::None : ElTorito::Emulation::HardDisk;
        if (entry.emulation && *entry.emulation != kind) {
            *error = "-no-emul-boot and -hard-disk-boot cannot apply to the same entry";
            return Parsed::Failed;
        }
        entry.emulation = kind;
        return Parsed::Taken;
    }
    if (!takeValue(args, i, &value, error) || !setBootValue(option, value, &entry, error))
        return Parsed::Failed;
    return Parsed::Taken;
}

// -exclude PATH and -graft PATH=FILE: the image's tree other than FOLDER's.
Parsed parseTreeOption(const std::vector<std::string> &args, std::size_t *i, HybridRequest *request,
                       std::string *error)
{
    const std::string &option = args[*i];
    if (option != "-exclude" && option != "-graft")
        return Parsed::NotMine;
    std::string value;
    if (!takeValue(args, i, &value, error))
        return Parsed::Failed;
    const std::size_t split = option == "-graft" ? value.find('=') : value.size();
    const std::optional<std::string> path = normalImagePath(value.substr(0, split));
    std::error_code ec;
    const std::filesystem::path source =
        split + 1 < value.size() ? std::filesystem::absolute(value.substr(split + 1), ec)
                                 : std::filesystem::path();
    if (!path || (option == "-graft" && source.empty())) {
        *error = option + " " + value +
                 (option == "-graft" ? ": needs PATH=FILE, PATH inside the image"
                                     : ": not a path inside the image");
        return Parsed::Failed;
    }
    if (option == "-graft")
        request->grafts.push_back({*path, source.lexically_normal()});
    else
        request->excluded.push_back(*path);
    return Parsed::Taken;
}

} // namespace

std::optional<std::string> normalImagePath(const std::string &path)
{
    std::string normal;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, end - start);
        if (component == "." || component == "..")
            return std::nullopt;
        if (!component.empty())
            normal += '/' + component;
        start = end + 1;
    }
    if (normal.empty())
        return std::nullopt;
    return normal;
}

std::optional<HybridRequest> parseHybridRequest(const std::vector<std::string> &args,
                                                std::string *error)
{
    HybridRequest request;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        Parsed parsed = Parsed::NotMine;
        if (arg == "-iso" || arg == "-udf")
            continue; // both are always written, together with Rock Ridge
        if (arg == "-o" || arg == "-default-volume-name") {
            if (!takeValue(args, &i, arg == "-o" ? &request.out : &request.volumeName, error))
                return std::nullopt;
            continue;
        }
        if ((parsed = parseBootOption(args, &i, &request, error)) == Parsed::NotMine)
            parsed = parseTreeOption(args, &i, &request, error);
        if (parsed == Parsed::Failed)
            return std::nullopt;
        if (parsed == Parsed::Taken)
            continue;
        if (!arg.empty() && arg[0] == '-') {
            *error = "unsupported option " + arg;
            return std::nullopt;
        }
        if (!request.folder.empty()) {
            *error = "only one source folder can be given";
            return std::nullopt;
        }
        request.folder = arg;
    }
    if (request.out.empty() || request.folder.empty()) {
        *error = "usage: hdiutil makehybrid -iso -udf -o OUT FOLDER";
        return std::nullopt;
    }
    for (const BootEntryRequest &entry : request.bootEntries) {
        if (entry.loadSize && entry.emulation != ElTorito::Emulation::None) {
            *error = "-boot-load-size is for entries with -no-emul-boot";
            return std::nullopt;
        }
    }
    return request;
}
