# Browser cache viewer, copy files dialog and the remembered folders.
quillax_add_test(test_cache_copy
    search/CacheViewerTest.cpp
    files/CopyFilesTest.cpp
    files/FolderListTest.cpp)
