# Language level, warnings and Qt safety defines shared by every target of the project.
add_library(zoru_common INTERFACE)
target_compile_features(zoru_common INTERFACE cxx_std_20)
target_compile_options(zoru_common INTERFACE -Wall -Wextra -Wpedantic -Werror -Wno-unused-parameter)
target_compile_definitions(zoru_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS
    QT_NO_URL_CAST_FROM_STRING
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_UP_TO=0x060400)
if(ZORU_SANITIZE)
    target_compile_options(zoru_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined)
    target_link_options(zoru_common INTERFACE -fsanitize=address,undefined)
    target_compile_definitions(zoru_common INTERFACE QT_FORCE_ASSERTS)
endif()

# zoru_add_test(<name> SOURCES ... LIBS ...): one Qt Test executable registered with CTest.
# GUI tests run offscreen; every test runs in its own scratch folder.
function(zoru_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE zoru_common zoru_testsupport Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZORU_PROGRAM_DIR=${ZORU_PROGRAM_DIR};ZORU_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        TIMEOUT 600)
endfunction()
