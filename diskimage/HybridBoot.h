#pragma once

#include "HybridRequest.h"
#include "HybridTree.h"

#include <string>
#include <vector>

// El Torito boot entries of a hybrid image: what genisoimage is told, and the
// check of the built image's catalog.

// A root name for the boot catalog that no item of the tree carries:
// genisoimage hides by name, anywhere in the tree.
std::string freeCatalogName(const ImageTree &tree);

// False with a reason when an entry's file is not a regular file of the tree.
bool checkBootFiles(const std::vector<BootEntryRequest> &entries, const ImageTree &tree,
                    std::string *error);

// genisoimage's options for the entries, the catalog written at the root
// under `catalogName` and hidden from the ISO 9660 and UDF trees as on a
// Windows disc (UDF follows Joliet's hiding). Empty without entries.
std::vector<std::string> genisoimageBootOptions(const std::vector<BootEntryRequest> &entries,
                                                const std::string &catalogName);

// Reads the built image's catalog: exactly the entries asked for, in order,
// bootable, each loading its file's bytes. Without entries, no boot record.
bool verifyBootCatalog(const std::string &imagePath, const std::vector<BootEntryRequest> &entries,
                       const ImageTree &tree, std::string *error);
