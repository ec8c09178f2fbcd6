#include "HybridBoot.h"
#include "HybridRequest.h"
#include "HybridTree.h"
#include "Names.h"
#include "Subprocess.h"
#include "Verbs.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
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

// Everything known before genisoimage runs.
struct Build {
    HybridRequest request;
    std::string folder; // absolute, without a trailing '/'
    fs::path out;
    ImageTree tree;
    std::string label;
    std::string genisoimage;
};

bool isProgressLine(std::string_view line)
{
    return line.find("% done, estimate finish") != std::string_view::npos;
}

// What genisoimage says about a build that goes well: the ISO 9660 names it
// chose, the boot images' sizes, its totals.
bool isNote(std::string_view line)
{
    static constexpr std::string_view kNotes[] = {"Size of boot image is ",
                                                  "Total translation table size",
                                                  "Total rockridge attributes",
                                                  "Total directory bytes",
                                                  "Path table size",
                                                  "Max brk space used"};
    if (line.empty() || (line.starts_with("Using ") && line.find(" for ") != line.npos) ||
        line.find(" extents written (") != line.npos)
        return true;
    for (const std::string_view note : kNotes) {
        if (line.starts_with(note))
            return true;
    }
    return false;
}

// genisoimage reads '\' and '=' in a graft point as its own syntax, and
// `glob` characters in an exclusion as a pattern.
std::string escaped(const std::string &text, std::string_view special)
{
    std::string out;
    for (const char c : text) {
        if (special.find(c) != special.npos)
            out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> genisoimageArguments(const Build &build, const std::string &output)
{
    std::vector<std::string> argv{build.genisoimage, "-iso-level", "3", "-R", "-udf",
                                  "-input-charset",  "utf-8"};
    uint64_t largest = 0;
    for (const auto &[path, item] : build.tree)
        largest = std::max(largest, item.size);
    if (largest > kLargestIsoFile)
        argv.push_back("-allow-limited-size");
    const std::vector<std::string> boot =
        genisoimageBootOptions(build.request.bootEntries, freeCatalogName(build.tree));
    argv.insert(argv.end(), boot.begin(), boot.end());
    // Matched against the path genisoimage reads each item from.
    for (const std::string &path : build.request.excluded)
        argv.insert(argv.end(), {"-x", escaped(build.folder + path, "\\*?[")});
    const bool grafts = !build.request.grafts.empty();
    if (grafts)
        argv.push_back("-graft-points");
    argv.insert(argv.end(), {"-V", build.label, "-o", output});
    argv.push_back(grafts ? "/=" + escaped(build.folder, "\\=") : build.folder);
    // The image path holds no '=' (-graft splits there) and no '\' (no UDF name does).
    for (const Graft &graft : build.request.grafts)
        argv.push_back(graft.imagePath.substr(1) + '=' + escaped(graft.source.string(), "\\="));
    return argv;
}

// Runs genisoimage to its end, passing its progress lines on to our stdout as
// they come; false with a reason, or after a signal.
bool runGenisoimage(const std::vector<std::string> &argv, std::string *error)
{
    int errors = -1;
    const pid_t pid = g_signal ? -1 : Subprocess::spawn(argv, &errors, false);
    const int spawnErrno = errno;
    g_child = pid;
    if (g_signal && pid > 0)
        kill(pid, SIGTERM);
    std::string reason;
    if (pid > 0) {
        Subprocess::readLines(errors, [&reason](const std::string &line) {
            if (isProgressLine(line)) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            } else if (!isNote(line)) {
                reason += (reason.empty() ? "" : " ") + line;
            }
        });
    }
    const int status = pid > 0 ? Subprocess::wait(pid) : -1;
    g_child = 0;
    if (g_signal)
        return false;
    if (pid < 0)
        *error = std::string("cannot start genisoimage: ") + std::strerror(spawnErrno);
    else if (status != 0)
        *error =
            "genisoimage " + Subprocess::describe(status) + (reason.empty() ? "" : ": " + reason);
    return pid > 0 && status == 0;
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

// FOLDER must be a folder, OUT must not exist yet, as with the macOS tool.
bool checkPaths(Build *build, std::string *error)
{
    const std::string &given = build->request.folder;
    std::error_code ec;
    build->folder = fs::absolute(given, ec).lexically_normal().string();
    if (build->folder.size() > 1 && build->folder.back() == '/')
        build->folder.pop_back();
    struct stat st;
    const int found = stat(build->folder.c_str(), &st);
    if (found != 0 || !S_ISDIR(st.st_mode)) {
        *error = given + ": " + std::strerror(found != 0 ? errno : ENOTDIR);
        return false;
    }
    build->out = fs::absolute(build->request.out, ec);
    if (lstat(build->out.c_str(), &st) == 0) {
        *error = build->request.out + ": " + std::strerror(EEXIST);
        return false;
    }
    return true;
}

// The checks made before anything is written; false with a reason.
bool prepare(const std::vector<std::string> &args, Build *build, std::string *error)
{
    std::optional<HybridRequest> request = parseHybridRequest(args, error);
    if (!request)
        return false;
    build->request = std::move(*request);
    if (!checkPaths(build, error))
        return false;
    std::optional<ImageTree> tree = plannedTree(build->folder, build->request, error);
    if (!tree || !checkBootFiles(build->request.bootEntries, *tree, error))
        return false;
    build->tree = std::move(*tree);
    const std::string &name = build->request.volumeName;
    build->label = Names::volumeLabelForFolder(
        name.empty() ? fs::path(build->folder).filename().string() : name);
    build->genisoimage =
        Subprocess::findProgram("genisoimage", {"/usr/bin/genisoimage", "/bin/genisoimage"});
    if (build->genisoimage.empty())
        *error = "genisoimage is not installed";
    return !build->genisoimage.empty();
}

} // namespace

namespace Verbs {

int makeHybrid(const std::vector<std::string> &args)
{
    Build build;
    std::string error;
    if (!prepare(args, &build, &error))
        return fail(error);

    std::printf("Creating hybrid image...\n");
    std::fflush(stdout);

    // Written beside OUT under a hidden name and moved into place only when
    // complete, so that a failure or a cancel never leaves a partial OUT.
    std::string temporary =
        (build.out.parent_path() / ("." + build.out.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return fail(build.out.parent_path().string() + ": " + std::strerror(errno));
    close(fd);

    // A reader of our output that goes away ends the build as a cancel does.
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        sigaction(sig, &action, nullptr);

    const bool built = runGenisoimage(genisoimageArguments(build, temporary), &error) &&
                       verifyImageTree(temporary, build.tree, &error) &&
                       verifyBootCatalog(temporary, build.request.bootEntries, build.tree, &error);
    if (built && !g_signal) {
        if (publish(temporary, build.out.string()))
            return 0;
        error = build.request.out + ": " + std::strerror(errno);
    }
    unlink(temporary.c_str());
    if (g_signal)
        return 128 + g_signal;
    return fail(error);
}

} // namespace Verbs
