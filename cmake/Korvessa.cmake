# kv_place(target "gogo.dll" "")          -> build/bin/gogo.dll
# kv_place(target "waveflt.exe" "tools")  -> build/bin/tools/waveflt.exe
# The file names are the ones the program looks for; the extension is only a name here.
function(kv_place target filename subdir)
  get_filename_component(base ${filename} NAME_WLE)
  get_filename_component(ext ${filename} LAST_EXT)
  if(subdir)
    set(dir ${KV_BIN}/${subdir})
  else()
    set(dir ${KV_BIN})
  endif()
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${base} SUFFIX "${ext}"
    LIBRARY_OUTPUT_DIRECTORY ${dir} RUNTIME_OUTPUT_DIRECTORY ${dir})
endfunction()

# kv_gtest(name sources... LIBS libs...) : a GoogleTest binary registered with CTest.
function(kv_gtest name)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  add_executable(${name} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${A_LIBS})
  target_compile_definitions(${name} PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KV_BIN_DIR="${KV_BIN}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# kv_qtest(name sources... LIBS libs...) : a Qt Test window test on the offscreen platform.
function(kv_qtest name)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  add_executable(${name} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE Qt6::Test ${A_LIBS})
  target_compile_definitions(${name} PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KV_BIN_DIR="${KV_BIN}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  # No desktop session: nothing reaches the developer's own desktop (help pages, programs).
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:")
endfunction()
