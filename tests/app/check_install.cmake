# Installs the build into a scratch prefix and checks that a desktop would find the program:
# the executable, its menu entry naming it and its icon, and the icon itself.
#   cmake -DBUILD=<build folder> -DPREFIX=<scratch folder> -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file
        bin/quillax
        share/applications/quillax.desktop
        share/icons/hicolor/scalable/apps/quillax.svg
        share/icons/hicolor/48x48/apps/quillax.png
        share/icons/hicolor/128x128/apps/quillax.png
        share/icons/hicolor/256x256/apps/quillax.png)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/quillax.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Name=Quillax" "Exec=quillax" "Icon=quillax")
    list(FIND entry "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the menu entry lacks the line: ${line}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
