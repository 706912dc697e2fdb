# Tests of the start window, the about box and their platform pieces.
quillax_add_test(test_startup
    shell/StartWindowTest.cpp
    shell/SystemInfoTest.cpp
    shell/AboutBoxTest.cpp)
