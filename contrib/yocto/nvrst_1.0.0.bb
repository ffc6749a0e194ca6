# SPDX-License-Identifier: MIT
SUMMARY = "Read and set the calibration values in a board's NVSRAM"
DESCRIPTION = "nvrst maps the NVSRAM window of the board driver's character \
device and reads or writes the minimum charging voltage, the trim voltage and \
the capacitance stored there, or dumps the whole parameter area."
HOMEPAGE = "https://example.org/nvrst"
SECTION = "admin"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=1061817e4ae2fc9edc47d4b650b992a6"

# example.org holds no repository: point SRC_URI at your copy of nvrst, and
# SRCREV at the commit to build, in a .bbappend of your layer or in local.conf:
#   SRC_URI:pn-nvrst = "git://git.example.com/nvrst.git;protocol=https;branch=main;destsuffix=${BP}"
#   SRCREV:pn-nvrst = "<commit>"
# Keep destsuffix=${BP}: the sources then land where S points by default.
SRC_URI = "git://example.org/nvrst.git;protocol=https;branch=main;destsuffix=${BP}"
# A commit of main, so that the recipe parses without looking at the
# repository; a release moves it to the release's commit (a file cannot name
# the commit that holds it).
SRCREV = "282245b9e0058c9c2df5ab6d4515a6850f8eec66"

inherit cmake bash-completion

# The tests need the build machine to run the tool; a board build skips them.
EXTRA_OECMAKE = "-DBUILD_TESTING=OFF"
