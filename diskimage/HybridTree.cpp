#include "HybridTree.h"

#include "Names.h"
#include "UdfImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// One item found below a surveyed folder: false with a reason when it cannot
// go into the image unchanged.
bool addItem(const fs::directory_entry &item, const std::string &imagePath, ImageTree *tree,
             std::vector<std::pair<fs::path, std::string>> *pending, std::string *error)
{
    const std::string shown = imagePath.substr(1);
    if (const std::optional<std::string> problem =
            Names::udfNameProblem(imagePath.substr(imagePath.rfind('/') + 1))) {
        *error = shown + ": " + *problem;
        return false;
    }
    std::error_code ec;
    const fs::file_status status = item.symlink_status(ec);
    if (fs::is_directory(status) || fs::is_regular_file(status)) {
        const bool folder = fs::is_directory(status);
        // genisoimage leaves out unreadable files without failing.
        if (access(item.path().c_str(), folder ? R_OK | X_OK : R_OK) != 0) {
            *error = shown + ": " + std::strerror(errno);
            return false;
        }
        const uint64_t size = folder ? 0 : item.file_size(ec);
        tree->emplace(imagePath, TreeItem{folder, size, item.path()});
        if (folder)
            pending->emplace_back(item.path(), imagePath);
    } else if (!ec) {
        *error = shown + ": only folders and regular files can go into the image";
        return false;
    }
    if (ec)
        *error = shown + ": " + ec.message();
    return !ec;
}

// Everything below `root`, placed below `prefix` ("" for the image's root)
// unless its image path is in `excluded`; the exclusions met go to `met`.
bool surveyTree(const fs::path &root, const std::string &prefix,
                const std::vector<std::string> &excluded, std::set<std::string> *met,
                ImageTree *tree, std::string *error)
{
    std::vector<std::pair<fs::path, std::string>> pending{{root, prefix}};
    while (!pending.empty()) {
        const auto [folder, relative] = pending.back();
        pending.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string item = relative + '/' + it->path().filename().string();
            if (std::find(excluded.begin(), excluded.end(), item) != excluded.end())
                met->insert(item);
            else if (!addItem(*it, item, tree, &pending, error))
                return false;
        }
        if (ec) {
            *error = folder.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

// The graft's item (and its folders, made as genisoimage makes them).
bool addGraft(const Graft &graft, ImageTree *tree, std::string *error)
{
    const std::string option = "-graft " + graft.imagePath.substr(1) + ": ";
    for (std::size_t slash = graft.imagePath.find('/', 1); slash != std::string::npos;
         slash = graft.imagePath.find('/', slash + 1)) {
        const std::string folder = graft.imagePath.substr(0, slash);
        if (const std::optional<std::string> problem =
                Names::udfNameProblem(folder.substr(folder.rfind('/') + 1))) {
            *error = option + *problem;
            return false;
        }
        if (!tree->emplace(folder, TreeItem{true, 0, {}}).first->second.isDirectory) {
            *error = option + folder.substr(1) + " is a file";
            return false;
        }
    }
    if (tree->count(graft.imagePath)) {
        *error = option + "the folder holds it already (leave it out with -exclude)";
        return false;
    }
    std::error_code ec;
    const fs::directory_entry source(graft.source, ec);
    if (ec) {
        *error = option + graft.source.string() + ": " + ec.message();
        return false;
    }
    std::vector<std::pair<fs::path, std::string>> pending;
    if (!addItem(source, graft.imagePath, tree, &pending, error)) {
        *error = "-graft " + *error;
        return false;
    }
    std::set<std::string> none;
    return pending.empty() || surveyTree(graft.source, graft.imagePath, {}, &none, tree, error);
}

} // namespace

std::optional<ImageTree> plannedTree(const fs::path &folder, const HybridRequest &request,
                                     std::string *error)
{
    ImageTree tree;
    std::set<std::string> met;
    if (!surveyTree(folder, std::string(), request.excluded, &met, &tree, error))
        return std::nullopt;
    for (const std::string &path : request.excluded) {
        if (!met.count(path)) {
            *error = "-exclude " + path.substr(1) + ": the folder holds no such item";
            return std::nullopt;
        }
    }
    for (const Graft &graft : request.grafts) {
        if (!addGraft(graft, &tree, error))
            return std::nullopt;
    }
    return tree;
}

bool verifyImageTree(const std::string &imagePath, const ImageTree &expected, std::string *error)
{
    std::unique_ptr<UdfImage> image = UdfImage::open(imagePath, error);
    if (!image || !image->readTree(error)) {
        *error = "the built image cannot be read back: " + *error;
        return false;
    }
    std::size_t found = 0;
    std::vector<const UdfNode *> pending{&image->root()};
    while (!pending.empty()) {
        const UdfNode *node = pending.back();
        pending.pop_back();
        for (const auto &child : node->children) {
            const std::string path = udfNodePath(*child);
            const auto wanted = expected.find(path);
            if (wanted == expected.end()) {
                *error = "the image holds " + path.substr(1) +
                         ", which is not in the folder (a name was changed)";
                return false;
            }
            if (wanted->second.isDirectory != child->isDirectory ||
                (!child->isDirectory && wanted->second.size != child->size)) {
                *error = path.substr(1) + " differs in the image (" + std::to_string(child->size) +
                         " bytes instead of " + std::to_string(wanted->second.size) + ")";
                return false;
            }
            ++found;
            if (child->isDirectory)
                pending.push_back(child.get());
        }
    }
    if (found == expected.size())
        return true;
    for (const auto &[path, entry] : expected) {
        if (!image->find(path)) {
            *error = path.substr(1) + " is missing from the image";
            return false;
        }
    }
    *error = "the image does not hold the folder's items";
    return false;
}
