#pragma once

#include "HybridRequest.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

// The tree a hybrid image is to hold, and the check of a built image against it.

struct TreeItem {
    bool isDirectory = false;
    uint64_t size = 0;
    std::filesystem::path source; // empty for a folder that only grafts make
};

// By image path: "/sources/boot.wim".
using ImageTree = std::map<std::string, TreeItem>;

// FOLDER's items without the excluded ones, plus the grafts, each checked
// against what genisoimage's UDF tree holds unchanged. Nothing with a reason
// naming the first item that cannot go into the image as it is, or an
// -exclude or -graft that does not fit the folder.
std::optional<ImageTree> plannedTree(const std::filesystem::path &folder,
                                     const HybridRequest &request, std::string *error);

// Reads the UDF tree of the built image back and compares it with `expected`:
// genisoimage changes or cuts some names without a word.
bool verifyImageTree(const std::string &imagePath, const ImageTree &expected, std::string *error);
