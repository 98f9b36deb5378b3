# Tests are Windows programs: CTest runs them under Wine, in a prefix that lives in the build tree.
set(TALLY_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# A test that needs the prefix (created and populated by the WinePrefix fixture, see tests/).
# Tests that touch the desktop-wide state (top-level windows, the hook, the notification area)
# take the "desktop" lock so that they never overlap.
function(tally_add_wine_test name)
  cmake_parse_arguments(T "DESKTOP" "TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED WinePrefix TIMEOUT ${T_TIMEOUT})
  if(T_DESKTOP)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK desktop)
  endif()
endfunction()

# A stand-in COM in-process server, registered under `clsid` in the test prefix (HKLM classes,
# which Wine honours). The list is written by tally_write_com_servers() at the end of testbed/.
function(tally_register_com_server target clsid)
  set_property(GLOBAL APPEND PROPERTY TALLY_COM_SERVERS "${clsid} $<TARGET_FILE:${target}>")
endfunction()

function(tally_write_com_servers)
  get_property(servers GLOBAL PROPERTY TALLY_COM_SERVERS)
  list(JOIN servers "\n" content)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/testbed/com-servers.txt CONTENT "${content}\n")
endfunction()
