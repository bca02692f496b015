# Our own code builds with every warning as an error; third-party headers come in as system includes.
function(raduvuz_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    # GCC 12 at -O3 warns of overlapping copies inside libstdc++'s own string concatenation
    # (GCC bug 105329), in code that cannot overlap; the release build would not build.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()

# A static library of one layer, from every .cpp of its folder.
function(raduvuz_library target)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    raduvuz_add_layer(${target} "${sources}" "${ARG_LIBS}")
endfunction()

# The include folder of one layer: a folder of the build tree that holds only that layer (a link
# named after it to its source folder), so that "control/X.h" is found by a target that sees the
# control layer and by no other. A target sees its own layer and, through the targets it links,
# the layers below: an include that runs up a layer does not compile.
function(raduvuz_layer_includes out layer)
    set(dir ${PROJECT_BINARY_DIR}/layers/${layer})
    if(NOT EXISTS ${dir}/${layer})
        file(MAKE_DIRECTORY ${dir})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${layer} ${dir}/${layer} SYMBOLIC)
    endif()
    set(${out} ${dir} PARENT_SCOPE)
endfunction()

# A layer whose folder holds only headers so far is an interface target.
function(raduvuz_add_layer target sources libs)
    get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    raduvuz_layer_includes(includes ${layer})
    if(sources)
        add_library(${target} STATIC ${sources})
        target_include_directories(${target} PUBLIC ${includes})
        target_link_libraries(${target} PUBLIC ${libs})
        raduvuz_strict(${target})
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${includes})
        target_link_libraries(${target} INTERFACE ${libs})
    endif()
endfunction()

# One GoogleTest executable per area; every test case becomes a CTest test. The tests run in the
# C.UTF-8 locale, whatever the session's language: a test of another locale says so itself.
function(raduvuz_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
    find_package(GTest REQUIRED)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    raduvuz_strict(${name})
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "RADUVUZ_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;LC_ALL=C.UTF-8;${ARG_ENV}"
                   TIMEOUT 120)
endfunction()

# A libFuzzer target; with RADUVUZ_FUZZ it also runs as a short bounded CTest test.
function(raduvuz_fuzzer name)
    cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
    if(NOT RADUVUZ_FUZZ)
        return()
    endif()
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 4)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    raduvuz_strict(${name})
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
    add_test(NAME ${name}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                $<TARGET_FILE:${name}> -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048
                -max_len=4096 -print_final_stats=0 ${corpus} ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 120)
    file(MAKE_DIRECTORY ${corpus})
endfunction()

# The translations the module ships (app/Language.*), copied into this folder: a program reads
# Language.<value> from its own folder.
function(raduvuz_language_files)
    file(GLOB tables CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/app/Language.*)
    foreach(table ${tables})
        get_filename_component(name ${table} NAME)
        configure_file(${table} ${CMAKE_CURRENT_BINARY_DIR}/${name} COPYONLY)
    endforeach()
endfunction()
