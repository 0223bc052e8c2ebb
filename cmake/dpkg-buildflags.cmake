# Debian's compiler and linker flags for the release and package builds:
# dpkg-buildflags with every hardening feature (stack protector, fortified
# C library calls, format checks, read-only relocations bound at start-up).
# Off by default; scripts/package-check.sh and the README's release build turn
# it on. The fortified calls need an optimised build, so Debug is refused.
option(PATHLUME_DPKG_BUILDFLAGS "Compile and link with dpkg-buildflags (hardening=+all)" OFF)
if(PATHLUME_DPKG_BUILDFLAGS)
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    message(FATAL_ERROR "PATHLUME_DPKG_BUILDFLAGS needs an optimised build (-D_FORTIFY_SOURCE "
                        "warns at -O0): use Release or RelWithDebInfo")
  endif()
  find_program(PATHLUME_DPKG_BUILDFLAGS_EXE dpkg-buildflags)
  if(NOT PATHLUME_DPKG_BUILDFLAGS_EXE)
    message(FATAL_ERROR "dpkg-buildflags (Debian package dpkg-dev) gives the hardening flags; "
                        "PATHLUME_WITH_LINTIAN=1 scripts/setup.sh installs it")
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # Run from the source tree: its -ffile-prefix-map names the working directory.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${PATHLUME_DPKG_BUILDFLAGS_EXE} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE pathlume_${kind}
      OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  # CMake's per-configuration flags follow these, so Release keeps its -O3.
  string(APPEND CMAKE_CXX_FLAGS " ${pathlume_CPPFLAGS} ${pathlume_CXXFLAGS}")
  foreach(kind EXE SHARED MODULE)
    string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${pathlume_LDFLAGS}")
  endforeach()
  message(STATUS "dpkg-buildflags: ${pathlume_CPPFLAGS} ${pathlume_CXXFLAGS} | ${pathlume_LDFLAGS}")
endif()
