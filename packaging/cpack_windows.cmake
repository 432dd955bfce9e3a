# Read by CPack for each Windows package: the installer carries its version
# in its name, the zip keeps its plain one.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "orvane-${CPACK_PACKAGE_VERSION}-setup")
endif()
