# Windows resources of a program: the program icon (resources/windows/
# pathlume.ico, rendered from the artwork by scripts/render-ico.py), the
# version information from project(VERSION), and the application manifest
# (resources/windows/pathlume.manifest: UTF-8 code page, DPI awareness,
# common controls 6, no elevation). Nothing on other systems.
#   pathlume_windows_resources(TARGET "File description")
function(pathlume_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/winres/${target})
  set(PATHLUME_RES_NAME ${target})
  set(PATHLUME_RES_DESCRIPTION "${description}")
  set(v ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
  list(TRANSFORM v REPLACE "^$" "0")
  list(JOIN v "," PATHLUME_RES_VERSION_COMMAS)
  list(JOIN v "." PATHLUME_RES_VERSION_DOTS)
  set(PATHLUME_RES_ICON ${PROJECT_SOURCE_DIR}/resources/windows/pathlume.ico)
  set(PATHLUME_RES_MANIFEST ${dir}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/pathlume.manifest ${PATHLUME_RES_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  set_source_files_properties(${dir}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${PATHLUME_RES_ICON};${PATHLUME_RES_MANIFEST}")
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  # windres finds resource.h here
  set_property(SOURCE ${dir}/${target}.rc APPEND PROPERTY INCLUDE_DIRECTORIES
               ${PROJECT_SOURCE_DIR}/resources)
endfunction()
