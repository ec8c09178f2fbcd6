#pragma once

#include "ElTorito.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What `hdiutil makehybrid` is asked to build, from its command line.

struct BootEntryRequest {
    std::string imagePath; // "/boot/etfsboot.com"
    // Nothing: floppy emulation, the floppy's type taken from the file's size.
    std::optional<ElTorito::Emulation> emulation;
    std::optional<uint16_t> loadSize;
    uint8_t platform = ElTorito::kPlatformX86;
};

// A file or folder from outside FOLDER, placed at `imagePath` in the image.
struct Graft {
    std::string imagePath;
    std::filesystem::path source;
};

struct HybridRequest {
    std::string out;
    std::string folder;
    std::string volumeName;
    std::vector<BootEntryRequest> bootEntries;
    std::vector<std::string> excluded; // image paths of FOLDER's items left out
    std::vector<Graft> grafts;
};

// Nothing with a one-line reason for options it does not know or that lack
// or contradict their values.
std::optional<HybridRequest> parseHybridRequest(const std::vector<std::string> &args,
                                                std::string *error);

// "sources/install.wim" or "/sources/install.wim" as "/sources/install.wim";
// nothing for an empty path or one with "." or ".." components.
std::optional<std::string> normalImagePath(const std::string &path);
