# Read by CPack once per generator: the install scripts learn which package they fill, so that the
# .deb and the .tar.gz can differ where Debian's rules and an unpack-anywhere folder disagree.
set(CPACK_CUSTOM_INSTALL_VARIABLES "TAV_PACKAGE_GENERATOR=${CPACK_GENERATOR}")
