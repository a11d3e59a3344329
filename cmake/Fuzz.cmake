# bw_add_fuzzer(NAME SOURCES... LIBS...) adds a libFuzzer target and hangs it on the
# `fuzzers` target, which the fuzz preset builds. Binaries land in <build>/fuzzers so
# tools/fuzz-smoke.sh finds every one of them.
if(BW_FUZZ AND NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

function(bw_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  add_dependencies(fuzzers ${name})
endfunction()
