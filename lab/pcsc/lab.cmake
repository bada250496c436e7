# Variables and a helper for tests that run against the virtual device lab.
# Include it from any CMakeLists (it only defines things):
#   include(${PROJECT_SOURCE_DIR}/lab/pcsc/lab.cmake)
#   ormid_lab_test(my_test)                 # the shared "lab" fixture
#   ormid_lab_test(my_test FIXTURE my_lab DIR ${CMAKE_BINARY_DIR}/my-lab)
#                                           # a private lab started by my own
#                                           # fixture tests (same script)
# The tests get PCSCLITE_CSOCK_NAME, ORMID_LAB_DIR, ORMID_LAB_PKCS11_DIR,
# ORMID_LAB_SCRIPT, ORMID_LAB_BUILD and ORMID_CSP_DIR (the lab's simulated
# CSP) in their environment.

set(ORMID_LAB_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/lab)
set(ORMID_LAB_DIR ${CMAKE_BINARY_DIR}/lab-state)

# The pcscd socket of a lab directory; the same rule as scripts/lab.
function(ormid_lab_socket dir out)
  set(path ${dir}/pcscd.comm)
  string(LENGTH "${path}" length)
  if(length GREATER 100)
    string(SHA1 hash "${dir}")
    string(SUBSTRING ${hash} 0 16 hash)
    set(path /tmp/ormid-lab-${hash}.comm)
  endif()
  set(${out} ${path} PARENT_SCOPE)
endfunction()

function(ormid_lab_test name)
  cmake_parse_arguments(L "" "FIXTURE;DIR" "" ${ARGN})
  if(NOT L_FIXTURE)
    set(L_FIXTURE lab)
  endif()
  if(NOT L_DIR)
    set(L_DIR ${ORMID_LAB_DIR})
  endif()
  ormid_lab_socket(${L_DIR} socket)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED ${L_FIXTURE}
    ENVIRONMENT "PCSCLITE_CSOCK_NAME=${socket};ORMID_LAB_DIR=${L_DIR};ORMID_LAB_PKCS11_DIR=${CMAKE_BINARY_DIR}/lab/modules;ORMID_LAB_SCRIPT=${ORMID_LAB_SCRIPT};ORMID_LAB_BUILD=${CMAKE_BINARY_DIR};ORMID_CSP_DIR=${CMAKE_BINARY_DIR}/lab/csp")
endfunction()

# ormid_lab_fixture(<fixture> DIR <state dir> [LAYOUT default|scard|empty])
# Tests <fixture>_up / <fixture>_down that start and stop a lab of their own.
function(ormid_lab_fixture fixture)
  cmake_parse_arguments(L "" "DIR;LAYOUT" "" ${ARGN})
  if(NOT L_LAYOUT)
    set(L_LAYOUT default)
  endif()
  add_test(NAME ${fixture}_up
           COMMAND ${ORMID_LAB_SCRIPT} up ${L_DIR} --build ${CMAKE_BINARY_DIR} --layout ${L_LAYOUT})
  add_test(NAME ${fixture}_down COMMAND ${ORMID_LAB_SCRIPT} down ${L_DIR})
  set_tests_properties(${fixture}_up PROPERTIES FIXTURES_SETUP ${fixture} LABELS lab)
  set_tests_properties(${fixture}_down PROPERTIES FIXTURES_CLEANUP ${fixture} LABELS lab)
endfunction()
