#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The El Torito boot catalog of an ISO 9660 image: which images a machine
// boots from the disc, for which firmware, loaded how. Plain C++ so that the
// disk tools, which carry no Qt, check the images they build with it too.
namespace ElTorito {

constexpr uint8_t kPlatformX86 = 0x00;
constexpr uint8_t kPlatformPowerPC = 0x01;
constexpr uint8_t kPlatformMac = 0x02;
constexpr uint8_t kPlatformEfi = 0xEF;

enum class Emulation : uint8_t {
    None = 0,
    Floppy1200K = 1,
    Floppy1440K = 2,
    Floppy2880K = 3,
    HardDisk = 4,
};

struct Entry {
    uint8_t platform = kPlatformX86;
    bool bootable = false;
    Emulation emulation = Emulation::None;
    uint16_t loadSegment = 0; // 0 means the BIOS default, 0x7C0
    uint16_t sectorCount = 0; // 512-byte sectors the firmware loads
    uint32_t loadRba = 0;     // first 2048-byte sector of the image
    unsigned section = 0;     // 0 for the initial entry, else its section header, from 1
};

struct Catalog {
    uint32_t lba = 0;
    std::vector<Entry> entries; // the initial entry first, then the sections' in order
};

enum class Outcome { Catalog, NoBootRecord, Unreadable };

struct CatalogReading {
    Outcome outcome = Outcome::Unreadable;
    Catalog catalog;   // with Outcome::Catalog
    std::string error; // with Outcome::Unreadable, one line
};

// The catalog from its bytes (one or more 2048-byte sectors, or fewer bytes
// when cut). Nothing with a one-line reason when it is truncated or damaged.
std::optional<Catalog> parseCatalog(std::span<const unsigned char> bytes, std::string *error);

// The boot record volume descriptor (sector 17) of the image file, then its
// catalog. An ISO 9660 image without a boot record is Outcome::NoBootRecord.
CatalogReading readCatalog(const std::string &isoPath);

// What the firmware loads for `entry`: the floppy's size with floppy
// emulation, else its sector count (at least one) of 512 bytes.
uint64_t loadedBytes(const Entry &entry);

// `size` bytes of the image file from the entry's first sector; nothing with
// a reason when the file ends before.
std::optional<std::vector<unsigned char>> readImage(const std::string &isoPath, const Entry &entry,
                                                    uint64_t size, std::string *error);

// "x86", "UEFI", "PowerPC", "Mac", else "platform 0xNN".
std::string platformName(uint8_t platform);

} // namespace ElTorito
