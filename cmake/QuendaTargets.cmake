# Helpers shared by every layer, test suite, benchmark and tool.

function(quenda_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wno-error=deprecated-declarations
        -Wno-missing-field-initializers)
endfunction()

# Links `target` with those of the given Quenda layers that exist in this build.
function(quenda_link_layers target scope)
    foreach(layer ${ARGN})
        if(TARGET ${layer})
            target_link_libraries(${target} ${scope} ${layer})
        endif()
    endforeach()
endfunction()

# quenda_layer(NAME [LAYERS lower layers...] [LIBS external libraries...]):
# a static library of every .cpp in the calling folder.
function(quenda_layer name)
    cmake_parse_arguments(ARG "" "" "LAYERS;LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    quenda_link_layers(${name} PUBLIC ${ARG_LAYERS})
    quenda_warnings(${name})
endfunction()

# quenda_test_suite(NAME LAYER [LIBS ...]): one GoogleTest binary of every .cpp in the calling folder,
# testing LAYER (and through it everything below). Skipped while LAYER is not built.
function(quenda_test_suite name layer)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    if(NOT TARGET ${layer})
        return()
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${layer} ${ARG_LIBS} GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE QUENDA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    quenda_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
