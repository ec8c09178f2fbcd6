#include "Names.h"
#include "Subprocess.h"
#include "UdfImage.h"
#include "Verbs.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sizes past this need genisoimage's -allow-limited-size: the ISO 9660 side
// then shows a cut size, the UDF side the true one.
constexpr uint64_t kLargestIsoFile = 0xFFFFFFFFull;

volatile sig_atomic_t g_signal = 0;
volatile pid_t g_child = 0;

void onSignal(int sig)
{
    g_signal = sig;
    if (g_child > 0)
        kill(g_child, SIGTERM);
}

int fail(const std::string &reason)
{
    std::fprintf(stderr, "hdiutil: makehybrid failed - %s\n", reason.c_str());
    return 1;
}

struct Expected {
    bool isDirectory;
    uint64_t size;
};

// Everything below `root` by path relative to it ("/a/b"), checked against
// what the UDF tree can hold. False with a reason naming the first item that
// cannot go into the image unchanged.
bool surveyTree(const fs::path &root, std::map<std::string, Expected> *tree, uint64_t *largest,
                std::string *error)
{
    std::vector<std::pair<fs::path, std::string>> pending{{root, std::string()}};
    while (!pending.empty()) {
        const auto [folder, relative] = pending.back();
        pending.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path &path = it->path();
            const std::string name = path.filename().string();
            const std::string item = relative + '/' + name;
            if (const std::optional<std::string> problem = Names::udfNameProblem(name)) {
                *error = item.substr(1) + ": " + *problem;
                return false;
            }
            const fs::file_status status = it->symlink_status(ec);
            if (ec)
                break;
            if (fs::is_directory(status)) {
                if (access(path.c_str(), R_OK | X_OK) != 0) {
                    *error = item.substr(1) + ": " + std::strerror(errno);
                    return false;
                }
                tree->emplace(item, Expected{true, 0});
                pending.emplace_back(path, item);
            } else if (fs::is_regular_file(status)) {
                // genisoimage leaves out unreadable files without failing.
                if (access(path.c_str(), R_OK) != 0) {
                    *error = item.substr(1) + ": " + std::strerror(errno);
                    return false;
                }
                const uint64_t size = it->file_size(ec);
                if (ec)
                    break;
                *largest = std::max(*largest, size);
                tree->emplace(item, Expected{false, size});
            } else {
                *error = item.substr(1) + ": only folders and regular files can go into the image";
                return false;
            }
        }
        if (ec) {
            *error = folder.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

// Reads the UDF tree of the built image back and compares it with the
// folder: genisoimage changes or cuts some names without a word.
bool verifyImage(const std::string &imagePath, const std::map<std::string, Expected> &expected,
                 std::string *error)
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
    if (found != expected.size()) {
        for (const auto &[path, entry] : expected) {
            if (!image->find(path)) {
                *error = path.substr(1) + " is missing from the image";
                return false;
            }
        }
        *error = "the image does not hold the folder's items";
        return false;
    }
    return true;
}

// genisoimage's reason without its notes on the ISO 9660 names it chose.
std::string genisoimageReason(const std::string &text)
{
    std::istringstream lines(text);
    std::string line, reason;
    while (std::getline(lines, line)) {
        if (line.empty() ||
            (line.rfind("Using ", 0) == 0 && line.find(" for ") != std::string::npos))
            continue;
        reason += (reason.empty() ? "" : " ") + line;
    }
    return reason;
}

bool publish(const std::string &temporary, const std::string &out)
{
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary.c_str(), 0666 & ~mask);
    // Never over an OUT that appeared meanwhile.
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, out.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (link(temporary.c_str(), out.c_str()) != 0)
        return false;
    unlink(temporary.c_str());
    return true;
}

} // namespace

namespace Verbs {

int makeHybrid(const std::vector<std::string> &args)
{
    std::string out, folderArg, volumeName;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "-iso" || arg == "-udf")
            continue; // both are always written, together with Rock Ridge
        if (arg == "-o" || arg == "-default-volume-name") {
            if (i + 1 >= args.size())
                return fail(arg + " needs a value");
            (arg == "-o" ? out : volumeName) = args[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return fail("unsupported option " + arg);
        } else if (folderArg.empty()) {
            folderArg = arg;
        } else {
            return fail("only one source folder can be given");
        }
    }
    if (out.empty() || folderArg.empty())
        return fail("usage: hdiutil makehybrid -iso -udf -o OUT FOLDER");

    std::error_code ec;
    const fs::path folder = fs::absolute(folderArg, ec).lexically_normal();
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return fail(folderArg + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return fail(folderArg + ": " + std::strerror(ENOTDIR));
    const fs::path outPath = fs::absolute(out, ec);
    if (lstat(outPath.c_str(), &st) == 0)
        return fail(out + ": " + std::strerror(EEXIST));

    std::map<std::string, Expected> expected;
    uint64_t largest = 0;
    std::string error;
    if (!surveyTree(folder, &expected, &largest, &error))
        return fail(error);

    fs::path named = folder;
    if (!named.has_filename())
        named = named.parent_path();
    const std::string label =
        Names::volumeLabelForFolder(volumeName.empty() ? named.filename().string() : volumeName);

    const std::string genisoimage =
        Subprocess::findProgram("genisoimage", {"/usr/bin/genisoimage", "/bin/genisoimage"});
    if (genisoimage.empty())
        return fail("genisoimage is not installed");

    std::printf("Creating hybrid image...\n");
    std::fflush(stdout);

    // Written beside OUT under a hidden name and moved into place only when
    // complete, so that a failure or a cancel never leaves a partial OUT.
    std::string temporary =
        (outPath.parent_path() / ("." + outPath.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return fail(outPath.parent_path().string() + ": " + std::strerror(errno));
    close(fd);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);

    std::vector<std::string> argv{genisoimage, "-quiet", "-iso-level",     "3",
                                  "-R",        "-udf",   "-input-charset", "utf-8"};
    if (largest > kLargestIsoFile)
        argv.push_back("-allow-limited-size");
    argv.insert(argv.end(), {"-V", label, "-o", temporary, folder.string()});

    int errors = -1;
    const pid_t pid = g_signal ? -1 : Subprocess::spawn(argv, &errors, false);
    g_child = pid;
    if (g_signal && pid > 0)
        kill(pid, SIGTERM);
    const std::string text = pid > 0 ? Subprocess::readToEnd(errors) : std::string();
    const int status = pid > 0 ? Subprocess::wait(pid) : -1;
    g_child = 0;

    bool built = !g_signal && pid > 0 && status == 0;
    if (pid > 0 && !g_signal && status != 0) {
        const std::string reason = genisoimageReason(text);
        error =
            "genisoimage " + Subprocess::describe(status) + (reason.empty() ? "" : ": " + reason);
    } else if (pid < 0 && !g_signal) {
        error = std::string("cannot start genisoimage: ") + std::strerror(errno);
    }
    if (built && !verifyImage(temporary, expected, &error))
        built = false;
    if (built && !g_signal) {
        if (publish(temporary, outPath.string()))
            return 0;
        error = out + ": " + std::strerror(errno);
    }
    unlink(temporary.c_str());
    if (g_signal)
        return 128 + g_signal;
    return fail(error);
}

} // namespace Verbs
