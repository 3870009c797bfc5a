# Makes the manual's HTML page from the manual page:
#   cmake -DGROFF=groff -DPAGE=chatterly.1 -DHTML=chatterly.html -P man-to-html.cmake
# groff stamps the page with the time it was made; that line is left out, so
# the same manual always gives the same page.
execute_process(COMMAND ${GROFF} -mandoc -Thtml ${PAGE}
  OUTPUT_VARIABLE html ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "" OR html STREQUAL "")
  message(FATAL_ERROR "groff could not make the HTML page of ${PAGE} (${status}):\n${errors}")
endif()
string(REGEX REPLACE "<!-- CreationDate:[^\n]*-->\n" "" html "${html}")
file(WRITE ${HTML}.new "${html}")
file(RENAME ${HTML}.new ${HTML})
