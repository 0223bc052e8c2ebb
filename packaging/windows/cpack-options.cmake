# Read by cpack for each generator: the ZIP keeps its one top folder; the
# installer has none (NSIS installs the files themselves into its folder).
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
