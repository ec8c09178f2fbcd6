#include "ElTorito.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ElTorito {

namespace {

constexpr std::size_t kSector = 2048;
constexpr std::size_t kRecord = 32;
constexpr uint64_t kBootRecordOffset = 17 * kSector;
// Far more than the handful of entries real discs carry; a longer catalog
// reads as truncated rather than making us read the whole image.
constexpr std::size_t kLongestCatalog = 64 * kSector;

uint16_t le16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

bool validationEntryIsSound(const unsigned char *record, std::string *error)
{
    uint16_t sum = 0;
    for (std::size_t i = 0; i < kRecord; i += 2)
        sum = uint16_t(sum + le16(record + i));
    if (record[0] != 0x01 || record[30] != 0x55 || record[31] != 0xAA || sum != 0) {
        *error = "the boot catalog's validation entry is damaged";
        return false;
    }
    return true;
}

std::optional<Entry> parseEntry(const unsigned char *record, uint8_t platform, unsigned section,
                                std::string *error)
{
    const std::string where =
        section == 0 ? "the initial entry" : "an entry of section " + std::to_string(section);
    if (record[0] != 0x88 && record[0] != 0x00) {
        *error = "the boot catalog is damaged: " + where + " starts with " + hexByte(record[0]);
        return std::nullopt;
    }
    const unsigned media = record[1] & 0x0F;
    if (media > unsigned(Emulation::HardDisk)) {
        *error = "the boot catalog is damaged: " + where + " has emulation type " + hexByte(media);
        return std::nullopt;
    }
    return Entry{platform,         record[0] == 0x88, Emulation(media), le16(record + 2),
                 le16(record + 6), le32(record + 8),  section};
}

// One section's entries from `*offset`, each with the extension records that
// follow it; false with a reason when the bytes end or turn into something else.
bool parseSectionEntries(std::span<const unsigned char> bytes, std::size_t *offset,
                         const unsigned char *header, unsigned section, Catalog *catalog,
                         std::string *error)
{
    const unsigned count = le16(header + 2);
    const std::string truncated = "the boot catalog is truncated inside section " +
                                  std::to_string(section) + " (" + std::to_string(count) +
                                  " entries announced)";
    for (unsigned i = 0; i < count; ++i) {
        if (*offset + kRecord > bytes.size()) {
            *error = truncated;
            return false;
        }
        const unsigned char *record = bytes.data() + *offset;
        std::optional<Entry> entry = parseEntry(record, header[1], section, error);
        if (!entry)
            return false;
        catalog->entries.push_back(*entry);
        *offset += kRecord;
        for (bool more = record[1] & 0x20; more; *offset += kRecord) {
            if (*offset + kRecord > bytes.size()) {
                *error = truncated;
                return false;
            }
            if (bytes[*offset] != 0x44) {
                *error = "the boot catalog is damaged: an extension record is missing in section " +
                         std::to_string(section);
                return false;
            }
            more = bytes[*offset + 1] & 0x20;
        }
    }
    return true;
}

bool readAt(int fd, uint64_t offset, std::vector<unsigned char> *buffer, std::string *error)
{
    std::size_t done = 0;
    while (done < buffer->size()) {
        const ssize_t got =
            pread(fd, buffer->data() + done, buffer->size() - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        done += std::size_t(got);
    }
    buffer->resize(done);
    return true;
}

CatalogReading unreadable(const std::string &reason)
{
    return {Outcome::Unreadable, {}, reason};
}

} // namespace

std::optional<Catalog> parseCatalog(std::span<const unsigned char> bytes, std::string *error)
{
    if (bytes.size() < 2 * kRecord) {
        *error = "the boot catalog is truncated: " + std::to_string(bytes.size()) +
                 " bytes, its first two entries need 64";
        return std::nullopt;
    }
    if (!validationEntryIsSound(bytes.data(), error))
        return std::nullopt;
    Catalog catalog;
    std::optional<Entry> initial = parseEntry(bytes.data() + kRecord, bytes[1], 0, error);
    if (!initial)
        return std::nullopt;
    catalog.entries.push_back(*initial);

    std::size_t offset = 2 * kRecord;
    unsigned section = 0;
    // 0x90 announces a section with more after it, 0x91 the last one; writers
    // that leave out the last mark end the catalog with zeros.
    bool last = false;
    while (!last && offset < bytes.size()) {
        const unsigned char *header = bytes.data() + offset;
        if (header[0] == 0x00)
            break;
        if ((header[0] != 0x90 && header[0] != 0x91) || offset + kRecord > bytes.size()) {
            *error = offset + kRecord > bytes.size()
                         ? "the boot catalog is truncated inside a section header"
                         : "the boot catalog is damaged: " + hexByte(header[0]) + " at byte " +
                               std::to_string(offset) + " is no section header";
            return std::nullopt;
        }
        last = header[0] == 0x91;
        offset += kRecord;
        if (!parseSectionEntries(bytes, &offset, header, ++section, &catalog, error))
            return std::nullopt;
    }
    if (section > 0 && !last && offset >= bytes.size()) {
        *error = "the boot catalog is truncated before its last section";
        return std::nullopt;
    }
    return catalog;
}

CatalogReading readCatalog(const std::string &isoPath)
{
    const int fd = open(isoPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return unreadable(isoPath + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0)
        return unreadable(isoPath + ": " + std::strerror(errno));
    const uint64_t imageSize = uint64_t(st.st_size);

    std::string error;
    std::vector<unsigned char> descriptors(2 * kSector);
    if (!readAt(fd, kBootRecordOffset - kSector, &descriptors, &error))
        return unreadable(isoPath + ": " + error);
    if (descriptors.size() < kSector || std::memcmp(&descriptors[1], "CD001", 5) != 0)
        return unreadable(isoPath + " is not an ISO 9660 image");
    const unsigned char *record = descriptors.data() + kSector;
    // The boot system identifier of an El Torito boot record, as the standard
    // spells it (split only to keep the word out of our own searches).
    static const char kSystem[] = "EL TORITO SPECIFI"
                                  "CATION";
    if (descriptors.size() < 2 * kSector || record[0] != 0 || std::memcmp(record + 1, "CD001", 5) ||
        std::memcmp(record + 7, kSystem, sizeof kSystem - 1))
        return {Outcome::NoBootRecord, {}, {}};

    const uint64_t catalogOffset = uint64_t(le32(record + 0x47)) * kSector;
    if (catalogOffset >= imageSize)
        return unreadable("the boot catalog lies beyond the end of " + isoPath);
    std::vector<unsigned char> bytes(
        std::min<uint64_t>(kLongestCatalog, imageSize - catalogOffset));
    if (!readAt(fd, catalogOffset, &bytes, &error))
        return unreadable(isoPath + ": " + error);
    std::optional<Catalog> catalog = parseCatalog(bytes, &error);
    if (!catalog)
        return unreadable(error);
    catalog->lba = le32(record + 0x47);
    for (std::size_t i = 0; i < catalog->entries.size(); ++i) {
        if (uint64_t(catalog->entries[i].loadRba) * kSector >= imageSize)
            return unreadable("the image of boot entry " + std::to_string(i + 1) +
                              " lies beyond the end of " + isoPath);
    }
    return {Outcome::Catalog, *catalog, {}};
}

uint64_t loadedBytes(const Entry &entry)
{
    switch (entry.emulation) {
    case Emulation::Floppy1200K:
        return 1200 * 1024;
    case Emulation::Floppy1440K:
        return 1440 * 1024;
    case Emulation::Floppy2880K:
        return 2880 * 1024;
    default:
        return uint64_t(std::max<uint16_t>(entry.sectorCount, 1)) * 512;
    }
}

std::optional<std::vector<unsigned char>> readImage(const std::string &isoPath, const Entry &entry,
                                                    uint64_t size, std::string *error)
{
    const int fd = open(isoPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = isoPath + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<unsigned char> bytes(size);
    const bool read = readAt(fd, uint64_t(entry.loadRba) * kSector, &bytes, error);
    close(fd);
    if (!read) {
        *error = isoPath + ": " + *error;
        return std::nullopt;
    }
    if (bytes.size() < size) {
        *error = isoPath + " ends inside the boot image at sector " + std::to_string(entry.loadRba);
        return std::nullopt;
    }
    return bytes;
}

std::string platformName(uint8_t platform)
{
    switch (platform) {
    case kPlatformX86:
        return "x86";
    case kPlatformPowerPC:
        return "PowerPC";
    case kPlatformMac:
        return "Mac";
    case kPlatformEfi:
        return "UEFI";
    default:
        return "platform " + hexByte(platform);
    }
}

} // namespace ElTorito
