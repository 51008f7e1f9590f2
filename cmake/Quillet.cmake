# Helpers shared by every module, test folder and benchmark.

# Warnings apply to the project's own code only; system headers (Qt, xcb) stay quiet.
set(QUILLET_WARNINGS -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wno-missing-field-initializers)

set(QUILLET_SANITIZER_FLAGS "")
if(QUILLET_SANITIZE)
  set(QUILLET_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(QUILLET_TSAN)
  set(QUILLET_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()

function(quillet_target_defaults target)
  target_compile_options(${target} PRIVATE ${QUILLET_WARNINGS} ${QUILLET_SANITIZER_FLAGS})
  target_link_options(${target} PRIVATE ${QUILLET_SANITIZER_FLAGS})
  target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER)
endfunction()

# quillet_add_library(<name> [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# One library per folder: every .cpp/.h/.qrc in the current source folder, target
# quillet_<name>, alias quillet::<name>. Headers are included from src/, as "core/Types.h".
# Sources whose name ends in "_main.cpp" are left out (they belong to an executable).
function(quillet_add_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(NOT cpp)
    # A module that has only headers so far.
    add_library(quillet_${name} INTERFACE ${sources})
    add_library(quillet::${name} ALIAS quillet_${name})
    target_include_directories(quillet_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(quillet_${name} INTERFACE ${ARG_PUBLIC_DEPS})
    return()
  endif()
  add_library(quillet_${name} STATIC ${sources})
  add_library(quillet::${name} ALIAS quillet_${name})
  target_include_directories(quillet_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quillet_${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  quillet_target_defaults(quillet_${name})
endfunction()

# quillet_add_unit_tests(<module> LIBS ...)
# Every *_test.cpp in tests/<module>/ becomes one test executable registered with CTest
# under the module's label; unit tests run on Qt's offscreen platform.
function(quillet_add_unit_tests module)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  set(exe test_${module})
  add_executable(${exe} ${sources})
  target_link_libraries(${exe} PRIVATE quillet_test_main ${ARG_LIBS})
  quillet_target_defaults(${exe})
  add_test(NAME ${module} COMMAND ${exe})
  set_tests_properties(${module} PROPERTIES
    LABELS ${module}
    TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=*.debug=false;ASAN_OPTIONS=detect_leaks=0")
endfunction()

# Every *_e2e_test.cpp in the current folder is its own executable with its own private
# X session (see tests/e2e/harness), labelled e2e.
function(quillet_add_e2e_tests)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_e2e_test.cpp)
  foreach(source ${sources})
    get_filename_component(stem ${source} NAME_WE)
    add_executable(${stem} ${source})
    target_link_libraries(${stem} PRIVATE quillet_e2e_harness ${ARG_LIBS})
    quillet_target_defaults(${stem})
    add_test(NAME ${stem} COMMAND ${stem})
    set_tests_properties(${stem} PROPERTIES LABELS e2e TIMEOUT 900
      ENVIRONMENT "QT_LOGGING_RULES=*.debug=false;ASAN_OPTIONS=detect_leaks=0")
  endforeach()
endfunction()
