# Renders one manual page as plain text with Windows line ends, for the
# Windows download (which has no man):
#   cmake -DGROFF=... -DPAGE=page.1 -DOUT=page.txt -P mantext.cmake
execute_process(
  COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-o -P-u ${PAGE}
  OUTPUT_VARIABLE text
  ERROR_VARIABLE problems
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR problems)
  message(FATAL_ERROR "groff on ${PAGE}: ${status} ${problems}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
