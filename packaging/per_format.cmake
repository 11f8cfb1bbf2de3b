# cpack reads this once per package format.
if(CPACK_GENERATOR STREQUAL "TGZ")
  # Unpacked with `tar -C /opt`: with no entry for /opt itself, it leaves the
  # owner and mode of an existing /opt as they are.
  set(CPACK_PACKAGING_INSTALL_PREFIX /kelmar)
endif()
