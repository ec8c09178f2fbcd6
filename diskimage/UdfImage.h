#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <udfread/udfread.h>

// One entry of an image's UDF tree. Directories keep their libudfread
// directory handle open, so that files are opened by name inside their own
// directory and names holding '\' need no path parsing.
struct UdfNode {
    std::string name; // empty for the root
    bool isDirectory = false;
    bool readable = true; // false when the file entry could not be read
    uint64_t size = 0;
    UdfNode *parent = nullptr;
    std::vector<std::unique_ptr<UdfNode>> children;
    UDFDIR *dir = nullptr;
    unsigned subdirectoryCount = 0;
};

// A UDF image opened read-only through libudfread. libudfread is not
// thread-safe: one thread uses an image and its files at a time.
class UdfImage {
public:
    // Opens the image file; on failure gives nothing and a one-line reason.
    static std::unique_ptr<UdfImage> open(const std::string &path, std::string *error);
    ~UdfImage();

    UdfImage(const UdfImage &) = delete;
    UdfImage &operator=(const UdfImage &) = delete;

    // The volume identifier, possibly empty.
    std::string volumeLabel() const;
    uint64_t imageSize() const { return m_imageSize; }

    // Reads the whole directory tree once; false with a reason when the image
    // is damaged. Entries whose names no Linux folder can hold ('/', "." or
    // "..") are left out.
    bool readTree(std::string *error);
    const UdfNode &root() const { return *m_root; }
    // The node at an absolute path ("/", "/sources/boot.wim"), or nothing.
    const UdfNode *find(const std::string &path) const;
    std::size_t nodeCount() const { return m_byPath.size(); }

    // A libudfread handle on a regular file of this image; close it with
    // udfread_file_close before the image goes.
    UDFFILE *openFile(const UdfNode &node) const;

private:
    UdfImage() = default;
    struct PendingFolder;
    // Adds the entries of one folder to the tree; its subfolders go to `pending`.
    bool readFolder(const PendingFolder &folder, std::vector<PendingFolder> *pending,
                    std::string *error);

    udfread *m_udf = nullptr;
    struct Input;
    std::unique_ptr<Input> m_input;
    uint64_t m_imageSize = 0;
    std::unique_ptr<UdfNode> m_root;
    std::unordered_map<std::string, const UdfNode *> m_byPath;
};

// Path of a node from the root, "/" for the root itself.
std::string udfNodePath(const UdfNode &node);
