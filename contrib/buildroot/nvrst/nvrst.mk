################################################################################
#
# nvrst
#
################################################################################

NVRST_VERSION = d71f484c15b60173570251bbbdca1ed28f58fdf4
NVRST_SITE = $(call qstrip,$(BR2_PACKAGE_NVRST_SITE))
NVRST_SITE_METHOD = git
NVRST_LICENSE = MIT
NVRST_LICENSE_FILES = LICENSE

$(eval $(cmake-package))
