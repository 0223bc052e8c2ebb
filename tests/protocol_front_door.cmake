# The front ends (ui/, app/, tools/cli/, tools/screenshot/) include protocol.h
# and no other header of protocol/. tools/devsim is a simulated device, not a
# front end: it builds frames and opens sockets itself and may include the
# codec and socketio.
#
#   cmake -DROOT=<source dir> -DWORK=<scratch dir> -P protocol_front_door.cmake
#
# First the check runs on a small tree of its own with one planted bad
# include and must find exactly that one, so it cannot pass by finding
# nothing; then it runs on ROOT.

cmake_minimum_required(VERSION 3.16)

set(front_ends ui app tools/cli tools/screenshot)

# Lists "file:line: #include ..." for every include in a front end of a
# protocol/ header other than protocol.h.
function(find_bad_includes root out)
  file(GLOB headers RELATIVE "${root}/protocol" "${root}/protocol/*.h")
  list(REMOVE_ITEM headers protocol.h)
  set(bad "")
  foreach(dir IN LISTS front_ends)
    file(GLOB_RECURSE sources RELATIVE "${root}"
         "${root}/${dir}/*.h" "${root}/${dir}/*.cpp")
    foreach(src IN LISTS sources)
      file(STRINGS "${root}/${src}" lines)
      set(n 0)
      foreach(line IN LISTS lines)
        math(EXPR n "${n} + 1")
        if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
          if(CMAKE_MATCH_1 IN_LIST headers)
            list(APPEND bad "${src}:${n}: ${line}")
          endif()
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(${out} "${bad}" PARENT_SCOPE)
endfunction()

if(NOT ROOT OR NOT WORK)
  message(FATAL_ERROR "usage: cmake -DROOT=<source dir> -DWORK=<scratch dir> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

set(plant "${WORK}/front_door_plant")
file(REMOVE_RECURSE "${plant}")
file(WRITE "${plant}/protocol/protocol.h" "#pragma once\n")
file(WRITE "${plant}/protocol/engine.h" "#pragma once\n")
file(WRITE "${plant}/ui/good.cpp" "#include \"protocol.h\"\n#include \"dialogbase.h\"\n")
file(WRITE "${plant}/tools/cli/bad.cpp" "// a front end\n#include <string>\n  #  include \"engine.h\"\n")
file(WRITE "${plant}/tools/devsim/sim.cpp" "#include \"engine.h\"\n")
find_bad_includes("${plant}" planted)
file(REMOVE_RECURSE "${plant}")
if(NOT planted STREQUAL "tools/cli/bad.cpp:3:   #  include \"engine.h\"")
  message(FATAL_ERROR "the check missed its planted include (found: \"${planted}\")")
endif()

find_bad_includes("${ROOT}" bad)
if(bad)
  list(JOIN bad "\n" text)
  message(FATAL_ERROR "front ends include protocol headers other than protocol.h:\n${text}")
endif()
message(STATUS "front ends include protocol.h only")
