#include "HybridBoot.h"

#include <fstream>
#include <iterator>

namespace {

std::string entryName(std::size_t index, const BootEntryRequest &entry)
{
    return "boot entry " + std::to_string(index + 1) + " (" + entry.imagePath.substr(1) + ")";
}

bool sameBytes(const std::filesystem::path &file, const std::vector<unsigned char> &bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    const std::vector<unsigned char> content{std::istreambuf_iterator<char>(in),
                                             std::istreambuf_iterator<char>()};
    return content == bytes;
}

// genisoimage picks the floppy type from the image's size.
ElTorito::Emulation floppyFor(uint64_t size)
{
    switch (size) {
    case 1200 * 1024:
        return ElTorito::Emulation::Floppy1200K;
    case 1440 * 1024:
        return ElTorito::Emulation::Floppy1440K;
    default:
        return ElTorito::Emulation::Floppy2880K;
    }
}

bool entryMatches(const std::string &imagePath, const ElTorito::Entry &found,
                  const BootEntryRequest &wanted, const TreeItem &file, std::string *error)
{
    const ElTorito::Emulation emulation = wanted.emulation.value_or(floppyFor(file.size));
    if (!found.bootable || found.platform != wanted.platform || found.emulation != emulation ||
        (wanted.loadSize && found.sectorCount != *wanted.loadSize)) {
        *error = "is written differently (platform " + ElTorito::platformName(found.platform) +
                 ", emulation " + std::to_string(int(found.emulation)) + ", " +
                 std::to_string(found.sectorCount) + " sectors)";
        return false;
    }
    const std::optional<std::vector<unsigned char>> bytes =
        ElTorito::readImage(imagePath, found, file.size, error);
    if (!bytes)
        return false;
    if (!sameBytes(file.source, *bytes)) {
        *error = "does not load the file's bytes";
        return false;
    }
    return true;
}

} // namespace

std::string freeCatalogName(const ImageTree &tree)
{
    std::string name = "boot.catalog";
    for (int serial = 1;; ++serial) {
        bool taken = false;
        for (const auto &[path, item] : tree)
            taken = taken || path.compare(path.rfind('/') + 1, std::string::npos, name) == 0;
        if (!taken)
            return name;
        name = "boot" + std::to_string(serial) + ".catalog";
    }
}

bool checkBootFiles(const std::vector<BootEntryRequest> &entries, const ImageTree &tree,
                    std::string *error)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto file = tree.find(entries[i].imagePath);
        if (file == tree.end() || file->second.isDirectory) {
            *error =
                "-eltorito-boot " + entries[i].imagePath.substr(1) + ": not a file of the image";
            return false;
        }
    }
    return true;
}

std::vector<std::string> genisoimageBootOptions(const std::vector<BootEntryRequest> &entries,
                                                const std::string &catalogName)
{
    std::vector<std::string> options;
    for (const BootEntryRequest &entry : entries) {
        if (!options.empty())
            options.push_back("-eltorito-alt-boot");
        // genisoimage takes the path inside the image, from its root.
        options.insert(options.end(), {entry.platform == ElTorito::kPlatformEfi ? "-e" : "-b",
                                       entry.imagePath.substr(1)});
        if (entry.emulation == ElTorito::Emulation::None)
            options.push_back("-no-emul-boot");
        else if (entry.emulation == ElTorito::Emulation::HardDisk)
            options.push_back("-hard-disk-boot");
        if (entry.loadSize)
            options.insert(options.end(), {"-boot-load-size", std::to_string(*entry.loadSize)});
    }
    if (!options.empty())
        options.insert(options.end(),
                       {"-c", catalogName, "-hide", catalogName, "-hide-joliet", catalogName});
    return options;
}

bool verifyBootCatalog(const std::string &imagePath, const std::vector<BootEntryRequest> &entries,
                       const ImageTree &tree, std::string *error)
{
    const ElTorito::CatalogReading read = ElTorito::readCatalog(imagePath);
    if (read.outcome == ElTorito::Outcome::Unreadable) {
        *error = "the built image's boot catalog cannot be read back: " + read.error;
        return false;
    }
    const std::size_t found = read.catalog.entries.size();
    if (found != entries.size()) {
        *error = "the built image has " + std::to_string(found) + " boot entries instead of " +
                 std::to_string(entries.size());
        return false;
    }
    for (std::size_t i = 0; i < found; ++i) {
        const TreeItem &file = tree.at(entries[i].imagePath);
        if (!entryMatches(imagePath, read.catalog.entries[i], entries[i], file, error)) {
            *error = "the built image's " + entryName(i, entries[i]) + " " + *error;
            return false;
        }
    }
    return true;
}
