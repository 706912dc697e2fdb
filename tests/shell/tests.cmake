# Tests of the start window, the about box and their platform pieces.
quillax_add_test(test_startup
    shell/StartWindowTest.cpp
    shell/SystemInfoTest.cpp
    shell/AboutBoxTest.cpp)
# `cmake --install` puts the program, its menu entry and its icon where the desktop looks.
add_test(NAME InstallLayout
    COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
            -DPREFIX=${CMAKE_CURRENT_BINARY_DIR}/install-check
            -P ${CMAKE_CURRENT_SOURCE_DIR}/shell/check_install.cmake)
