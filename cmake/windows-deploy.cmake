# Run at install time (install(CODE) in packaging/CMakeLists.txt): puts
# beside the installed programs every DLL they load that Windows does not
# have, found from the import tables (objdump -p) of the programs and of the
# toolkit's plugins, recursively: the toolkit's DLLs and the compiler's
# runtime DLLs. An import that is in none of the search folders must be one
# of Windows' own (cmake/windows-system-dlls.txt); any other stops the
# install, so that nothing is shipped that cannot start.
# Variables set by the caller:
#   DEPLOY_ROOT     the installed folder of the programs
#   DEPLOY_FILES    files under DEPLOY_ROOT whose imports are followed
#   DEPLOY_SEARCH   folders holding the DLLs to ship (first match wins)
#   DEPLOY_SYSTEM   the list of Windows' own DLLs
#   DEPLOY_OBJDUMP  the target's objdump
#   DEPLOY_STRIP    the target's strip: a stripped install (cpack) strips the
#                   DLLs it copies too (the compiler's libstdc++-6.dll comes
#                   with its symbols, 23 MB)
# An install script runs without the project's policies: if(IN_LIST) needs
# this one, set for this file only.
cmake_policy(PUSH)
cmake_policy(SET CMP0057 NEW)
file(STRINGS "${DEPLOY_SYSTEM}" system_dlls REGEX "^[^#]")
list(TRANSFORM system_dlls TOLOWER)

function(deploy_imports file out)
  execute_process(COMMAND "${DEPLOY_OBJDUMP}" -p "${file}" OUTPUT_VARIABLE dump
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump -p ${file} failed (${status})")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND names "${name}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

set(queue)
foreach(f IN LISTS DEPLOY_FILES)
  list(APPEND queue "${DEPLOY_ROOT}/${f}")
endforeach()
set(seen)
set(shipped)
while(queue)
  list(POP_FRONT queue file)
  deploy_imports("${file}" imports)
  foreach(name IN LISTS imports)
    string(TOLOWER "${name}" key)
    if(key IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${key}")
    set(found "")
    foreach(dir IN LISTS DEPLOY_SEARCH)
      if(EXISTS "${dir}/${name}")
        set(found "${dir}/${name}")
        break()
      endif()
    endforeach()
    if(found)
      file(COPY_FILE "${found}" "${DEPLOY_ROOT}/${name}" ONLY_IF_DIFFERENT)   # a link copied as the file it names
      if(CMAKE_INSTALL_DO_STRIP AND DEPLOY_STRIP)
        execute_process(COMMAND "${DEPLOY_STRIP}" --strip-unneeded "${DEPLOY_ROOT}/${name}"
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          message(FATAL_ERROR "strip ${DEPLOY_ROOT}/${name} failed (${status})")
        endif()
      endif()
      list(APPEND shipped "${name}")
      list(APPEND queue "${DEPLOY_ROOT}/${name}")
    elseif(NOT key IN_LIST system_dlls AND NOT key MATCHES "^(api|ext)-ms-win-")
      message(FATAL_ERROR "${file} imports ${name}, which is neither in ${DEPLOY_SEARCH} "
                          "nor one of Windows' own DLLs (${DEPLOY_SYSTEM})")
    endif()
  endforeach()
endwhile()
list(SORT shipped)
list(JOIN shipped " " shipped_text)
message(STATUS "Shipped beside the programs: ${shipped_text}")
cmake_policy(POP)
