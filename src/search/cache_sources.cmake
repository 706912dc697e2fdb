# Browser cache viewer and copy files dialog.
target_sources(quillax_core PRIVATE
    search/BrowserCache.cpp search/BrowserCache.h
    files/CopyFiles.cpp files/CopyFiles.h)
target_sources(quillax_ui PRIVATE
    search/fIEcache.cpp search/fIEcache.h
    shell/Form_Copy_Move.cpp shell/Form_Copy_Move.h
    shell/FolderList.cpp shell/FolderList.h)

# Bodies the browser stored compressed are written out decoded when zlib is there.
find_package(ZLIB)
if(ZLIB_FOUND)
    set_source_files_properties(search/BrowserCache.cpp PROPERTIES
        COMPILE_DEFINITIONS QUILLAX_HAVE_ZLIB)
    target_link_libraries(quillax_core PRIVATE ZLIB::ZLIB)
endif()
