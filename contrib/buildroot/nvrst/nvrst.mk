################################################################################
#
# nvrst
#
################################################################################

NVRST_VERSION = 1.0.0
NVRST_SITE = https://example.org/nvrst.git
NVRST_SITE_METHOD = git
NVRST_LICENSE = MIT
NVRST_LICENSE_FILES = LICENSE
NVRST_CONF_OPTS = -DBUILD_TESTING=OFF

$(eval $(cmake-package))
