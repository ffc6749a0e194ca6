# SPDX-License-Identifier: MIT
SUMMARY = "Read and set the calibration values in a board's NVSRAM"
DESCRIPTION = "nvrst maps the NVSRAM window of the board driver's character \
device and reads or writes the minimum charging voltage, the trim voltage and \
the capacitance stored there, or dumps the whole parameter area."
HOMEPAGE = "https://example.org/nvrst"
SECTION = "admin"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=1061817e4ae2fc9edc47d4b650b992a6"

SRC_URI = "git://example.org/nvrst.git;protocol=https;branch=main"
# Follows main; a product layer pins SRCREV to the commit of a release.
SRCREV = "${AUTOREV}"
PV = "1.0.0+git"
S = "${WORKDIR}/git"

inherit cmake bash-completion

# The tests need the build machine to run the tool; a board build skips them.
EXTRA_OECMAKE = "-DBUILD_TESTING=OFF"
