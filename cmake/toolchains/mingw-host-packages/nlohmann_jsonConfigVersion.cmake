# The host's nlohmann-json3-dev (Debian 12: 3.11.2); any 3.x request is met.
set(PACKAGE_VERSION 3.11.2)
if(NOT PACKAGE_FIND_VERSION OR PACKAGE_FIND_VERSION_MAJOR EQUAL 3)
    set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
