################################################################################
#
# nvrst
#
################################################################################

NVRST_VERSION = 7c98a39125646c7775e38616e9437152bba5bc8b
NVRST_SITE = $(call qstrip,$(BR2_PACKAGE_NVRST_SITE))
NVRST_SITE_METHOD = git
NVRST_LICENSE = MIT
NVRST_LICENSE_FILES = LICENSE

$(eval $(cmake-package))
