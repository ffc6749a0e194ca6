################################################################################
#
# nvrst
#
################################################################################

NVRST_VERSION = 4830979cc1600a4bfc6ed036d2a3f0d299bf1640
NVRST_SITE = $(call qstrip,$(BR2_PACKAGE_NVRST_SITE))
NVRST_SITE_METHOD = git
NVRST_LICENSE = MIT
NVRST_LICENSE_FILES = LICENSE

$(eval $(cmake-package))
