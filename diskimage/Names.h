#pragma once

#include <optional>
#include <string>
#include <string_view>

// Name rules shared by the disk tools: how a volume label becomes a folder
// name, how the label of a built image is chosen, and which file names the UDF
// tree written by genisoimage can hold unchanged.
namespace Names {

// Code points of valid UTF-8, or nothing for malformed input.
std::optional<std::u32string> decodeUtf8(std::string_view text);

// The longest prefix of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 sequence.
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

// Folder name for a volume: control characters and '/' become '_', surrounding
// white space goes, malformed UTF-8 bytes become '_', a leading '.' gets a '_'
// in front (the runtime folder keeps its own state in dot names), an empty
// label becomes "Untitled". Short enough to take a " NNN" suffix.
std::string folderNameForLabel(std::string_view label);

// The name tried for the `attempt`th mount of a label: "LABEL", "LABEL 1", ...
std::string candidateFolderName(const std::string &base, int attempt);

// Volume label for an image built from a folder of that name: at most the 32
// bytes an ISO 9660 volume identifier holds, cut at a character boundary.
std::string volumeLabelForFolder(std::string_view folderName);

// Why genisoimage's UDF tree cannot hold `name` unchanged, or nothing when it
// can. genisoimage replaces control characters and * : ; ? \ by '_', drops
// everything from the first character beyond U+FFFF, and writes a broken
// directory for identifiers longer than 255 bytes (254 characters when all are
// below U+0100, else 127).
std::optional<std::string> udfNameProblem(std::string_view name);

} // namespace Names
