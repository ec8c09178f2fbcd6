#include "UdfImage.h"

#include <udfread/blockinput.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// libudfread writes its complaints to stderr; the tools give their own
// one-line reasons instead.
class QuietStderr {
public:
    QuietStderr()
    {
        std::fflush(stderr);
        m_saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0)
            dup2(null, STDERR_FILENO);
        if (null >= 0)
            close(null);
    }
    ~QuietStderr()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            dup2(m_saved, STDERR_FILENO);
            close(m_saved);
        }
    }
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int m_saved = -1;
};

// Bounds for damaged images whose folders refer back to their ancestors.
constexpr std::size_t kMaxDepth = 512;
constexpr std::size_t kMaxEntries = 4'000'000;

} // namespace

// Block reads through pread on our own descriptor: close-on-exec, 64-bit
// offsets, and full reads of whole extents in one call.
struct UdfImage::Input {
    udfread_block_input base{}; // first member: libudfread sees only this
    int fd = -1;
    uint32_t blocks = 0;

    static int read(udfread_block_input *input, uint32_t lba, void *buffer, uint32_t count, int)
    {
        auto *self = reinterpret_cast<Input *>(input);
        const std::size_t wanted = std::size_t(count) * UDF_BLOCK_SIZE;
        const off_t offset = off_t(lba) * UDF_BLOCK_SIZE;
        std::size_t done = 0;
        while (done < wanted) {
            const ssize_t got = pread(self->fd, static_cast<char *>(buffer) + done, wanted - done,
                                      offset + off_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += std::size_t(got);
        }
        return int(done / UDF_BLOCK_SIZE);
    }
    static uint32_t size(udfread_block_input *input)
    {
        return reinterpret_cast<Input *>(input)->blocks;
    }
};

std::unique_ptr<UdfImage> UdfImage::open(const std::string &path, std::string *error)
{
    std::unique_ptr<UdfImage> image(new UdfImage);
    image->m_input = std::make_unique<Input>();
    Input &input = *image->m_input;
    input.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (input.fd < 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(input.fd, &st) != 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = std::strerror(EISDIR);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        *error = "not a disk image file";
        return nullptr;
    }
    image->m_imageSize = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    if (S_ISBLK(st.st_mode)) {
        const off_t end = lseek(input.fd, 0, SEEK_END);
        image->m_imageSize = end > 0 ? uint64_t(end) : 0;
    }
    input.blocks = uint32_t(std::min<uint64_t>(image->m_imageSize / UDF_BLOCK_SIZE, UINT32_MAX));
    input.base.read = &Input::read;
    input.base.size = &Input::size;
    posix_fadvise(input.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    QuietStderr quiet;
    image->m_udf = udfread_init();
    if (!image->m_udf) {
        *error = std::strerror(ENOMEM);
        return nullptr;
    }
    if (udfread_open_input(image->m_udf, &input.base) < 0) {
        *error = "not a UDF image (no mountable file systems)";
        return nullptr;
    }
    return image;
}

UdfImage::~UdfImage()
{
    // Directory handles first: they point into the volume's cached tree.
    if (m_root) {
        std::vector<UdfNode *> stack{m_root.get()};
        while (!stack.empty()) {
            UdfNode *node = stack.back();
            stack.pop_back();
            if (node->dir)
                udfread_closedir(node->dir);
            for (auto &child : node->children)
                stack.push_back(child.get());
        }
    }
    if (m_udf)
        udfread_close(m_udf);
    if (m_input && m_input->fd >= 0)
        close(m_input->fd);
}

std::string UdfImage::volumeLabel() const
{
    const char *label = udfread_get_volume_id(m_udf);
    return label ? std::string(label) : std::string();
}

struct UdfImage::PendingFolder {
    UdfNode *node;
    std::string path;
    std::size_t depth;
};

bool UdfImage::readTree(std::string *error)
{
    QuietStderr quiet;
    m_root = std::make_unique<UdfNode>();
    m_root->isDirectory = true;
    m_root->dir = udfread_opendir(m_udf, "/");
    if (!m_root->dir) {
        *error = "the root folder of the image cannot be read";
        return false;
    }
    m_byPath.clear();
    m_byPath.emplace("/", m_root.get());
    std::vector<PendingFolder> pending{{m_root.get(), std::string(), 0}};
    while (!pending.empty()) {
        const PendingFolder current = pending.back();
        pending.pop_back();
        if (current.depth > kMaxDepth) {
            *error = "the folders of the image nest too deeply (damaged image?)";
            return false;
        }
        if (!readFolder(current, &pending, error))
            return false;
    }
    return true;
}

bool UdfImage::readFolder(const PendingFolder &folder, std::vector<PendingFolder> *pending,
                          std::string *error)
{
    udfread_dirent entry;
    while (udfread_readdir(folder.node->dir, &entry)) {
        const std::string name = entry.d_name;
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            continue;
        const std::string path = folder.path + '/' + name;
        if (m_byPath.count(path))
            continue; // a duplicate identifier: the first one wins
        if (m_byPath.size() >= kMaxEntries) {
            *error = "the image has too many entries (damaged image?)";
            return false;
        }
        auto child = std::make_unique<UdfNode>();
        child->name = name;
        child->parent = folder.node;
        if (entry.d_type == UDF_DT_DIR) {
            child->isDirectory = true;
            child->dir = udfread_opendir_at(folder.node->dir, name.c_str());
            if (!child->dir) {
                *error = "the folder " + path + " of the image cannot be read";
                return false;
            }
            ++folder.node->subdirectoryCount;
            pending->push_back({child.get(), path, folder.depth + 1});
        } else {
            UDFFILE *file = udfread_file_openat(folder.node->dir, name.c_str());
            const int64_t size = file ? udfread_file_size(file) : -1;
            child->readable = size >= 0;
            child->size = size >= 0 ? uint64_t(size) : 0;
            if (file)
                udfread_file_close(file);
        }
        m_byPath.emplace(path, child.get());
        folder.node->children.push_back(std::move(child));
    }
    return true;
}

const UdfNode *UdfImage::find(const std::string &path) const
{
    const auto found = m_byPath.find(path);
    return found == m_byPath.end() ? nullptr : found->second;
}

UDFFILE *UdfImage::openFile(const UdfNode &node) const
{
    if (node.isDirectory || !node.readable || !node.parent)
        return nullptr;
    return udfread_file_openat(node.parent->dir, node.name.c_str());
}

std::string udfNodePath(const UdfNode &node)
{
    if (!node.parent)
        return "/";
    std::string path;
    for (const UdfNode *n = &node; n->parent; n = n->parent)
        path.insert(0, '/' + n->name);
    return path;
}
