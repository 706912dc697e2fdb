# Start window, about box and their platform pieces: target_sources(quillax_core|quillax_ui ...).

target_sources(quillax_core PRIVATE
    platform/Registry.cpp platform/Registry.h
    platform/SystemInfo.cpp platform/SystemInfo.h
    shell/AboutBoxActions.cpp shell/AboutBoxActions.h
    shell/ProgramIcon.cpp shell/ProgramIcon.h
    shell/UpdateNotice.cpp shell/UpdateNotice.h
)
qt_add_resources(quillax_core "quillax_icons"
    PREFIX "/"
    BASE ${PROJECT_SOURCE_DIR}/resources
    FILES
        ${PROJECT_SOURCE_DIR}/resources/icons/quillax-48.png
        ${PROJECT_SOURCE_DIR}/resources/icons/quillax-128.png
        ${PROJECT_SOURCE_DIR}/resources/icons/quillax-256.png)

target_sources(quillax_ui PRIVATE
    shell/fCover.cpp shell/fCover.h
    shell/frmAbout.cpp shell/frmAbout.h
)

# `cmake --install` puts the program, its icon and its menu entry where the desktop finds them.
include(GNUInstallDirs)
install(TARGETS quillax RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/quillax.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/quillax.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/quillax-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME quillax.png)
endforeach()
