#include "DiskImage.h"
#include "MountTable.h"
#include "RuntimeFolder.h"
#include "ServerRecord.h"
#include "Verbs.h"

#include <cstdio>
#include <plist/plist.h>

namespace {

// The process a mount is for, when its server noted one.
std::optional<ProcessIdentity> ownerOf(const MountTable::Mount &mount)
{
    const auto record = ServerRecord::read(RuntimeFolder::serverLockPath(mount.mountPoint));
    return record ? record->owner : std::nullopt;
}

std::string propertyList(const std::vector<MountTable::Mount> &mounts)
{
    plist_t root = plist_new_dict();
    plist_t images = plist_new_array();
    // One record per mount, as macOS gives one per attachment.
    for (const MountTable::Mount &mount : mounts) {
        plist_t image = plist_new_dict();
        plist_dict_set_item(image, "image-path", plist_new_string(mount.imagePath.c_str()));
        plist_dict_set_item(image, "writeable", plist_new_bool(0));
        if (const std::optional<ProcessIdentity> owner = ownerOf(mount)) {
            plist_dict_set_item(image, "owner-pid", plist_new_uint(uint64_t(owner->pid)));
            plist_dict_set_item(image, "owner-alive", plist_new_bool(owner->isRunning()));
        }
        plist_t entities = plist_new_array();
        plist_t entity = plist_new_dict();
        plist_dict_set_item(entity, "dev-entry", plist_new_string(DiskImage::kDevEntry));
        plist_dict_set_item(entity, "mount-point", plist_new_string(mount.mountPoint.c_str()));
        plist_dict_set_item(entity, "volume-kind", plist_new_string("udf"));
        plist_array_append_item(entities, entity);
        plist_dict_set_item(image, "system-entities", entities);
        plist_array_append_item(images, image);
    }
    plist_dict_set_item(root, "images", images);
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

std::string listing(const std::vector<MountTable::Mount> &mounts)
{
    std::string text;
    for (const MountTable::Mount &mount : mounts) {
        text += "================================================\n";
        text += "image-path      : " + mount.imagePath + '\n';
        if (const std::optional<ProcessIdentity> owner = ownerOf(mount))
            text += "owner-pid       : " + std::to_string(owner->pid) +
                    (owner->isRunning() ? "\n" : " (ended)\n");
        text += std::string(DiskImage::kDevEntry) + "\t\t" + mount.mountPoint + '\n';
    }
    return text;
}

} // namespace

namespace Verbs {

int info(const std::vector<std::string> &args)
{
    bool asPlist = false;
    for (const std::string &arg : args) {
        if (arg != "-plist") {
            std::fprintf(stderr, "hdiutil: info failed - unknown option %s\n", arg.c_str());
            return 1;
        }
        asPlist = true;
    }
    std::vector<MountTable::Mount> mounts;
    std::string error;
    if (!MountTable::read(&mounts, &error)) {
        std::fprintf(stderr, "hdiutil: info failed - %s\n", error.c_str());
        return 1;
    }
    const std::string text = asPlist ? propertyList(mounts) : listing(mounts);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

} // namespace Verbs
