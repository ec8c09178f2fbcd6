# The Debian package: `cpack -G DEB` in the build folder gives isoswm_<version>_<arch>.deb
# with everything installed under /usr.
set(CPACK_PACKAGE_NAME isoswm)
set(CPACK_PACKAGE_VENDOR "The isoswm developers")
set(CPACK_PACKAGE_CONTACT "The isoswm developers <isoswm@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make a Windows installation ISO fit on FAT32 media")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/isoswm/isoswm")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools it runs: wimlib's wimsplit, genisoimage for the new image, FUSE
# for the read-only mount of the source.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wimtools, genisoimage, fuse3")
# --list-drives asks the disk service (udisks2); without it the rest works.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland, udisks2")
# The extended description; CPack puts the summary above it as the synopsis.
set(CPACK_PACKAGE_DESCRIPTION
  "A Windows installation image keeps the system in sources/install.wim, which
is often larger than the 4 GiB that FAT32 allows. isoswm makes a new ISO in
which that file is split by wimlib into install.swm pieces of at most
2048 MB, so that the installer can be copied to a FAT32 USB stick.
.
The package holds the desktop application (isoswm) and a terminal front end
(isoswm-cli). The source image is mounted read-only through FUSE; no root
rights are needed.")

include(CPack)
