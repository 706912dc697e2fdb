# Fails when an #include line of src/ points up a layer, or across core's subject folders in a
# direction that is not written down below; and when a file under core/ includes a widget header.
#
#   cmake -DSRC=<repo>/src [-DWIDGET_HEADER_DIRS=<dir;dir>] -P check_include_direction.cmake
#
# The layers, top first; a file may include its own layer and any layer below it:
#   app -> ui -> core -> platform
# platform includes nothing of ours from above it.
# Inside core, a subject folder may include itself and these, nothing else:
#   download -> files, settings
#   files    -> settings
#   search   -> files, settings, and of download only the hand-over interface
#   settings -> (nothing)
#   store    -> download, search, files, settings   (it keeps both lists)
# Inside ui, the window families stack the same way:
#   search   -> shell, and of download only the window host, whose queue takes the records
#   download -> shell             (and reaches the search window only through shell's links)
#   shell    -> (nothing)
# Files include the program's headers by their path from src/ ("core/files/FileNaming.h"), so
# the path says the layer.

cmake_minimum_required(VERSION 3.25)

if(NOT SRC OR NOT IS_DIRECTORY "${SRC}")
    message(FATAL_ERROR "check_include_direction: pass -DSRC=<the src folder>")
endif()

set(rank_platform 0)
set(rank_core 1)
set(rank_ui 2)
set(rank_app 3)

set(core_allows_download files settings)
set(core_allows_files settings)
set(core_allows_search files settings)
set(core_allows_settings)
set(core_allows_store download search files settings)
set(ui_allows_search shell)
# The only header of ui/download that ui/search may include.
set(ui_search_may_include_from_download ui/download/DownloadWindowHost.h)
set(ui_allows_download shell)
set(ui_allows_shell)
# The only headers of core/download that core/search may include.
set(search_may_include_from_download core/download/DownloadQueue.h)

# "core/download/X.h" -> layer "core", folder "download"; "platform/X.h" -> "platform", "".
function(split_path path layer_var folder_var)
    string(REPLACE "/" ";" parts "${path}")
    list(LENGTH parts n)
    list(GET parts 0 layer)
    set(folder "")
    if(n GREATER 2)
        list(GET parts 1 folder)
    endif()
    set(${layer_var} "${layer}" PARENT_SCOPE)
    set(${folder_var} "${folder}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
set(problems "")
set(checked 0)
foreach(source IN LISTS sources)
    split_path("${source}" from_layer from_folder)
    if(NOT DEFINED rank_${from_layer})
        string(APPEND problems "\n  ${source}: lies outside the layers (app, ui, core, platform)")
        continue()
    endif()
    file(STRINGS "${SRC}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
        if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
            set(system_header "${CMAKE_MATCH_1}")
            if(from_layer STREQUAL "core")
                foreach(dir IN LISTS WIDGET_HEADER_DIRS)
                    get_filename_component(name "${system_header}" NAME)
                    if(EXISTS "${dir}/${name}" AND NOT IS_DIRECTORY "${dir}/${name}")
                        string(APPEND problems
                               "\n  ${source}: includes the widget header <${system_header}>")
                    endif()
                endforeach()
            endif()
            continue()
        endif()
        if(NOT line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
            continue()
        endif()
        set(target "${CMAKE_MATCH_1}")
        math(EXPR checked "${checked} + 1")
        split_path("${target}" to_layer to_folder)
        if(NOT DEFINED rank_${to_layer} OR NOT EXISTS "${SRC}/${target}")
            string(APPEND problems
                   "\n  ${source}: \"${target}\" is not a path from src/ into a layer")
            continue()
        endif()
        if(rank_${to_layer} GREATER rank_${from_layer})
            string(APPEND problems "\n  ${source}: includes \"${target}\", a layer above it")
            continue()
        endif()
        if(from_layer STREQUAL "core" AND to_layer STREQUAL "core"
           AND NOT from_folder STREQUAL to_folder)
            if(from_folder STREQUAL "search" AND to_folder STREQUAL "download")
                if(NOT target IN_LIST search_may_include_from_download)
                    string(APPEND problems "\n  ${source}: includes \"${target}\"; core/search "
                           "reaches core/download only through ${search_may_include_from_download}")
                endif()
            elseif(NOT to_folder IN_LIST core_allows_${from_folder})
                string(APPEND problems "\n  ${source}: includes \"${target}\"; "
                       "core/${from_folder} may not include core/${to_folder}")
            endif()
        endif()
        if(from_layer STREQUAL "ui" AND to_layer STREQUAL "ui"
           AND NOT from_folder STREQUAL to_folder)
            if(from_folder STREQUAL "search" AND to_folder STREQUAL "download")
                if(NOT target IN_LIST ui_search_may_include_from_download)
                    string(APPEND problems "\n  ${source}: includes \"${target}\"; ui/search "
                           "reaches ui/download only through ${ui_search_may_include_from_download}")
                endif()
            elseif(NOT to_folder IN_LIST ui_allows_${from_folder})
                string(APPEND problems "\n  ${source}: includes \"${target}\"; "
                       "ui/${from_folder} may not include ui/${to_folder}")
            endif()
        endif()
    endforeach()
endforeach()

if(checked EQUAL 0)
    message(FATAL_ERROR "check_include_direction: no #include line found under ${SRC}")
endif()
if(problems)
    message(FATAL_ERROR "Includes that point the wrong way:${problems}")
endif()
list(LENGTH sources files)
message(STATUS "${checked} includes in ${files} files point down")
