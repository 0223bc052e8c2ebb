# The front ends (ui/, app/, tools/cli/, tools/screenshot/) include protocol.h
# and no other header of protocol/, and protocol.h brings in none of the
# internal headers (the engine's, the codec's, the transport's inside, the
# ring, socketio), directly or through the public headers it includes: a front
# end that names an internal then fails to build. tools/devsim is a simulated
# device, not a front end: it builds frames and opens sockets itself and may
# include the codec and socketio.
#
#   cmake -DROOT=<source dir> -DWORK=<scratch dir> -P protocol_front_door.cmake
#
# First both checks run on a small tree of their own with one planted bad
# include each and must find exactly that one, so they cannot pass by
# finding nothing; then they run on ROOT.

cmake_minimum_required(VERSION 3.16)

set(front_ends ui app tools/cli tools/screenshot)
set(internal_headers engine.h codec.h udp.h rxring.h socketio.h)

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

# Lists "protocol/file:line: #include ..." for every include of an internal
# header in protocol.h or in a protocol/ header it brings in, followed as far
# as the includes go (each header once).
function(find_internals_behind_door root out)
  set(todo protocol.h)
  set(seen "")
  set(bad "")
  while(todo)
    list(POP_FRONT todo header)
    if(header IN_LIST seen OR NOT EXISTS "${root}/protocol/${header}")
      continue()
    endif()
    list(APPEND seen "${header}")
    file(STRINGS "${root}/protocol/${header}" lines)
    set(n 0)
    foreach(line IN LISTS lines)
      math(EXPR n "${n} + 1")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
        if(CMAKE_MATCH_1 IN_LIST internal_headers)
          list(APPEND bad "protocol/${header}:${n}: ${line}")
        else()
          list(APPEND todo "${CMAKE_MATCH_1}")
        endif()
      endif()
    endforeach()
  endwhile()
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
file(WRITE "${plant}/door/protocol/protocol.h" "#pragma once\n#include \"records.h\"\n#include \"journal.h\"\n")
file(WRITE "${plant}/door/protocol/journal.h" "#pragma once\n#include \"records.h\"\n#include <vector>\n")
file(WRITE "${plant}/door/protocol/records.h" "#pragma once\n// engine.h\n #include \"codec.h\"\n")
file(WRITE "${plant}/door/protocol/codec.h" "#pragma once\n")
file(WRITE "${plant}/door/protocol/engine.h" "#pragma once\n#include \"codec.h\"\n")
find_bad_includes("${plant}" planted)
find_internals_behind_door("${plant}/door" planted_door)
file(REMOVE_RECURSE "${plant}")
if(NOT planted STREQUAL "tools/cli/bad.cpp:3:   #  include \"engine.h\"")
  message(FATAL_ERROR "the check missed its planted include (found: \"${planted}\")")
endif()
if(NOT planted_door STREQUAL "protocol/records.h:3:  #include \"codec.h\"")
  message(FATAL_ERROR "the check missed the internal header planted behind protocol.h (found: \"${planted_door}\")")
endif()

find_bad_includes("${ROOT}" bad)
if(bad)
  list(JOIN bad "\n" text)
  message(FATAL_ERROR "front ends include protocol headers other than protocol.h:\n${text}")
endif()
find_internals_behind_door("${ROOT}" behind)
if(behind)
  list(JOIN behind "\n" text)
  message(FATAL_ERROR "protocol.h brings in internal headers:\n${text}")
endif()
message(STATUS "front ends include protocol.h only, and it brings in no internal header")
