# Holds the library graph of docs/architecture.md true for all the code: every #include of
# src/, schema/, tests/, tools/ and bench/ (.h, .hpp, .cpp, .cc, .inc) is resolved as the compiler
# would find it (a quoted one beside the including file first, relative paths included, then in
# the include roots; one in <...> in the include roots only), and the room of the file it names
# must be one the including room may use. A file of the tree is included in quotes, never in
# <...>. An include in quotes that names no file of the tree (other than a generated one) fails
# too, and so does a rule below that names a file that is not there. A Qt header (<QWidget>,
# <QtWidgets/QWidget>, <QtWidgets>) must belong to a Qt module that the room's CMake link line
# names (or one such a module is built on).
#   cmake -DZORU_SOURCE_DIR=<checkout> [-DZORU_QT_INCLUDE_DIR=<Qt's include folder>]
#         -P tests/graph_check.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ZORU_SOURCE_DIR)
    message(FATAL_ERROR "ZORU_SOURCE_DIR is not set")
endif()

# --- The graph: what each room may include besides itself.
#   core <- engine (engine/paradox below it) <- schema, package, jobs; jobs <- export, import,
#   sync; package <- export, import
#   status on schema; statusview on status; cli on export, import, sync and status;
#   ui on jobs; admin on ui and export; app on everything.
set(may_core "")
set(may_paradox core)
set(may_engine core paradox)
set(may_schema core paradox engine)
set(may_package core paradox engine)
set(may_jobs core paradox engine)
set(may_export ${may_jobs} jobs package schema)
set(may_import ${may_jobs} jobs package schema)
set(may_sync ${may_jobs} jobs)
set(may_ui core jobs)
set(may_admin ${may_export} export ui)
set(may_status core paradox engine schema)
set(may_statusview ${may_status} status)
# The command line: no widgets, no view (Qt Core and SQL on its link line).
set(may_cli ${may_export} export import sync status)
set(may_app ${may_cli} cli ui admin statusview)
# The programs under tools/: the archiver shares the package room's volume names.
set(may_arc core package)
set(may_createdb core paradox engine schema)
set(may_demo core paradox engine schema package)
# Shared test fixtures serve the tests of every room below the application.
set(may_support core paradox engine schema package jobs ui demo status)
# Benchmarks measure every library, never the program's shell nor the tests.
set(may_bench core paradox engine schema package jobs export import sync ui admin status statusview
    cli demo)
# Fuzz targets drive the readers and the import with the archiver's extraction compiled in.
set(may_fuzz core paradox engine schema package jobs import demo arc)

set(count 0)
macro(fail text)
    message(SEND_ERROR "${text}")
    math(EXPR count "${count} + 1")
endmacro()

# Inside the engine (docs/engine.md): the bases know no implementation, each backend knows no
# other, and the rest of the tree reaches the engine through its root headers only.
#   forbid(<name> <including files> <included files> <allowed anyway> <why> [<exempt>...]):
#   regexes on paths relative to the checkout; the files allowed anyway (included) and the
#   exempt ones (including) are named exactly and must exist.
set(rules "")
macro(forbid name from to allowed why)
    list(APPEND rules ${name})
    set(rule_${name}_from "${from}")
    set(rule_${name}_to "${to}")
    set(rule_${name}_allowed "${allowed}")
    set(rule_${name}_why "${why}")
    set(rule_${name}_exempt "${ARGN}")
endmacro()
set(engine_rooms "^src/engine/(sql|folder|dataset)/")
forbid(cursor "^src/engine/cursor\\.h$"
       "^src/engine/((sql|folder|dataset)/|(dataset|database|memtable|table|query)\\.h$)" ""
       "the cursor interface knows no backend and no dataset")
forbid(dataset "^src/engine/dataset(\\.h$|/)"
       "^src/engine/((sql|folder)/|(memtable|table|query)\\.h$)" ""
       "the dataset base knows no backend and no derived dataset")
forbid(sqlite "^src/engine/sql/sqlite/" "^src/engine/sql/postgresql/" ""
       "a backend knows no other")
forbid(postgresql "^src/engine/sql/postgresql/" "^src/engine/sql/sqlite/" ""
       "a backend knows no other")
forbid(sqlshared "^src/engine/sql/[^/]+$" "^src/engine/sql/(sqlite|postgresql)/" ""
       "what the backends share knows none of them" src/engine/sql/sqldrivers.cpp)
forbid(sql "^src/engine/sql/"
       "^src/engine/((folder|dataset)/|(dataset|table|query|memtable)\\.h$)" ""
       "the SQL cursors know no dataset and no folder")
forbid(folder "^src/engine/folder/"
       "^src/engine/((sql|dataset)/|(dataset|table|query|memtable)\\.h$)"
       "src/engine/sql/sqlcursor.h"
       "the folder backend reaches SQL through the cursor over an in-memory copy only")
forbid(roothead "^src/engine/[^/]+\\.h$" "${engine_rooms}" ""
       "the engine's public headers show none of its rooms")
forbid(rootcode "^src/engine/[^/]+\\.cpp$" "${engine_rooms}"
       "src/engine/sql/sqldriver.h;src/engine/sql/sqlcursor.h;src/engine/folder/tablefiles.h;src/engine/folder/folderbackend.h"
       "the engine's root reaches its rooms through their entry headers")
forbid(outside "^(src/[a-df-z]|schema/|tools/|bench/|tests/[a-df-z]|tests/engine/paradox/)"
       "${engine_rooms}|^src/engine/paradox/writing\\.h$" ""
       "the rest of the tree uses the engine's public headers")
forbid(enginetests "^tests/engine/[^/]+$" "${engine_rooms}" ""
       "a test of the engine's root uses its public headers; a room's test lives in its folder")
forbid(foldertests "^tests/engine/folder/" "^src/engine/(sql|dataset)/" ""
       "a room's test uses its own room and the public headers")

foreach(name IN LISTS rules)
    foreach(f IN LISTS rule_${name}_allowed rule_${name}_exempt)
        # A file renamed or split: the rule must follow it, or it guards nothing.
        if(NOT EXISTS "${ZORU_SOURCE_DIR}/${f}")
            fail("graph_check.cmake names ${f}, which does not exist")
        endif()
    endforeach()
endforeach()
foreach(folder src/engine/sql/sqlite src/engine/sql/postgresql src/engine/folder src/engine/dataset)
    if(NOT IS_DIRECTORY "${ZORU_SOURCE_DIR}/${folder}")
        fail("graph_check.cmake names ${folder}, which does not exist")
    endif()
endforeach()

# The room of a file of the tree, and whether it is a test of that room; empty when it is in none.
function(room_of path out_room out_test)
    set(test OFF)
    set(room "")
    if(path MATCHES "^src/engine/paradox/")
        set(room paradox)
    elseif(path MATCHES "^tests/engine/paradox/")
        set(room paradox)
        set(test ON)
    elseif(path MATCHES "^src/([a-z]+)/")
        set(room ${CMAKE_MATCH_1})
    elseif(path MATCHES "^schema/")
        set(room schema)
    elseif(path MATCHES "^tools/zoru-arc/")
        set(room arc)
    elseif(path MATCHES "^tools/zoru-createdb/")
        set(room createdb)
    elseif(path MATCHES "^tools/zoru-demo/")
        set(room demo)
    elseif(path MATCHES "^bench/")
        set(room bench)
    elseif(path MATCHES "^tests/(support|fuzz)/")
        set(room ${CMAKE_MATCH_1})
    elseif(path MATCHES "^tests/tools/")
        set(room demo)
        set(test ON)
    elseif(path MATCHES "^tests/([a-z]+)/")
        set(room ${CMAKE_MATCH_1})
        set(test ON)
    endif()
    set(${out_room} "${room}" PARENT_SCOPE)
    set(${out_test} ${test} PARENT_SCOPE)
endfunction()

# Where an include is found when it is not beside the including file.
set(roots src . tests/support tools/zoru-demo tools/zoru-arc bench)

# --- Qt modules: a room may include the headers of the Qt modules its CMake link line names
# (read from the CMakeLists.txt below, so that the two cannot part) and of those they are built
# on. Tests add Qt Test and Qt SQL (a test may make a central database); the shared test
# fixtures, the benchmarks and the fuzz targets, which are programs rather than one library,
# may include what the rooms they may use link.
set(link_core src/core zoru_core)
set(link_paradox src/engine/paradox zoru_paradox)
set(link_engine src/engine zoru_engine)
set(link_schema schema zoru_schema)
foreach(room package jobs export import sync status statusview cli ui admin app)
    set(link_${room} src/${room} zoru_${room})
endforeach()
set(link_arc tools/zoru-arc zoru-arc)
set(link_createdb tools/zoru-createdb zoru-createdb)
set(link_demo tools/zoru-demo zoru_demo)
set(link_support tests/support zoru_testsupport)
# What a Qt module is built on (its headers include theirs).
set(qt_base_Gui Core)
set(qt_base_Widgets Gui Core)
set(qt_base_Charts Widgets Gui Core)
set(qt_base_OpenGL Gui Core)

function(linked_qt room out)
    list(GET link_${room} 0 folder)
    list(GET link_${room} 1 target)
    set(file "${ZORU_SOURCE_DIR}/${folder}/CMakeLists.txt")
    set(modules "")
    if(EXISTS "${file}")
        file(READ "${file}" text)
        string(REGEX MATCHALL "target_link_libraries\\([ \t\r\n]*${target}[ \t\r\n][^)]*\\)"
               calls "${text}")
        foreach(call IN LISTS calls)
            string(REGEX MATCHALL "Qt6::[A-Za-z]+" linked "${call}")
            foreach(module IN LISTS linked)
                string(REPLACE "Qt6::" "" module "${module}")
                list(APPEND modules ${module} ${qt_base_${module}} Core)
            endforeach()
        endforeach()
    endif()
    if(modules STREQUAL "")
        set(modules NOTFOUND)
    else()
        list(REMOVE_DUPLICATES modules)
    endif()
    set(${out} "${modules}" PARENT_SCOPE)
endfunction()

foreach(room core paradox engine schema package jobs export import sync status statusview cli ui
             admin app arc createdb demo support)
    linked_qt(${room} qt_${room})
    if(NOT qt_${room})
        fail("graph_check.cmake reads the Qt modules of room ${room} from the link line of "
             "${link_${room}}, which names none")
        set(qt_${room} "")
    endif()
endforeach()
foreach(room support bench fuzz)
    foreach(used IN LISTS may_${room})
        list(APPEND qt_${room} ${qt_${used}})
    endforeach()
    list(REMOVE_DUPLICATES qt_${room})
endforeach()

# Qt's include folder: given, else Debian's.
if(NOT ZORU_QT_INCLUDE_DIR)
    file(GLOB qt_dirs LIST_DIRECTORIES true /usr/include/*/qt6 /usr/include/qt6)
    list(FILTER qt_dirs INCLUDE REGEX "qt6$")
    if(qt_dirs)
        list(GET qt_dirs 0 ZORU_QT_INCLUDE_DIR)
    endif()
endif()
if(NOT IS_DIRECTORY "${ZORU_QT_INCLUDE_DIR}/QtCore")
    message(FATAL_ERROR "Qt's include folder not found: pass -DZORU_QT_INCLUDE_DIR=<folder>")
endif()

# The Qt modules that have a header of this name (empty: not a Qt header).
function(qt_modules_of header out)
    string(MAKE_C_IDENTIFIER "${header}" key)
    if(NOT DEFINED qtof_${key})
        set(found "")
        set(module "")
        if(header MATCHES "^Qt([A-Za-z]+)(/|$)")
            set(module ${CMAKE_MATCH_1})
        endif()
        if(module AND IS_DIRECTORY "${ZORU_QT_INCLUDE_DIR}/Qt${module}")
            set(found ${module}) # <QtWidgets/QWidget>, <QtWidgets>
        else()
            file(GLOB hits "${ZORU_QT_INCLUDE_DIR}/Qt*/${header}")
            foreach(hit IN LISTS hits)
                string(REGEX REPLACE ".*/Qt([A-Za-z]+)/[^/]+$" "\\1" module "${hit}")
                list(APPEND found ${module})
            endforeach()
        endif()
        set(qtof_${key} "${found}" PARENT_SCOPE)
        set(${out} "${found}" PARENT_SCOPE)
    else()
        set(${out} "${qtof_${key}}" PARENT_SCOPE)
    endif()
endfunction()

set(globs "")
foreach(top src schema tests tools bench)
    foreach(ext h hpp cpp cc inc)
        list(APPEND globs "${ZORU_SOURCE_DIR}/${top}/*.${ext}")
    endforeach()
endforeach()
file(GLOB_RECURSE files RELATIVE "${ZORU_SOURCE_DIR}" ${globs})

foreach(f IN LISTS files)
    room_of("${f}" lib test)
    if(lib STREQUAL "")
        fail("${f}: in no room of the graph (tests/graph_check.cmake)")
        continue()
    endif()
    if(NOT DEFINED may_${lib})
        fail("${f}: room '${lib}' is not in the graph (tests/graph_check.cmake)")
        continue()
    endif()
    set(may ${may_${lib}} ${lib})
    set(qt ${qt_${lib}})
    if(test)
        # A test may also make a central database, a demo site and a package.
        list(APPEND may schema support demo)
        list(APPEND qt Test Sql)
        list(REMOVE_DUPLICATES qt)
    endif()

    get_filename_component(dir "${ZORU_SOURCE_DIR}/${f}" DIRECTORY)
    file(STRINGS "${ZORU_SOURCE_DIR}/${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
        if(line MATCHES "include[ \t]*\"([^\"]+)\"")
            set(angle OFF)
            set(shown "\"${CMAKE_MATCH_1}\"")
        elseif(line MATCHES "include[ \t]*<([^>]+)>")
            set(angle ON)
            set(shown "<${CMAKE_MATCH_1}>")
        else()
            continue()
        endif()
        set(header "${CMAKE_MATCH_1}")
        if(header MATCHES "\\.moc$")
            continue() # made by the build
        endif()
        set(found "")
        if(NOT angle AND EXISTS "${dir}/${header}" AND NOT IS_DIRECTORY "${dir}/${header}")
            get_filename_component(found "${dir}/${header}" ABSOLUTE)
        else()
            foreach(root IN LISTS roots)
                if(EXISTS "${ZORU_SOURCE_DIR}/${root}/${header}"
                   AND NOT IS_DIRECTORY "${ZORU_SOURCE_DIR}/${root}/${header}")
                    get_filename_component(found "${ZORU_SOURCE_DIR}/${root}/${header}" ABSOLUTE)
                    break()
                endif()
            endforeach()
        endif()
        if(found STREQUAL "" AND angle)
            # A header from outside the tree: a Qt one must be of a module the room links.
            qt_modules_of("${header}" modules)
            if(modules)
                set(allowed OFF)
                foreach(module IN LISTS modules)
                    if(module IN_LIST qt)
                        set(allowed ON)
                    endif()
                endforeach()
                if(NOT allowed)
                    list(JOIN modules "/" modules)
                    fail("${f}: #include ${shown}: ${lib} links no Qt ${modules} (its link line: ${qt})")
                endif()
            endif()
            continue()
        endif()
        if(found STREQUAL "")
            fail("${f}: #include ${shown} names no file of the tree")
            continue()
        endif()
        file(RELATIVE_PATH target "${ZORU_SOURCE_DIR}" "${found}")
        room_of("${target}" used used_test)
        set(why "")
        if(used_test AND NOT (test AND used STREQUAL lib))
            set(why "the tests of another room are no header to include")
        elseif(used STREQUAL "")
            set(why "${target} is in no room")
        elseif(NOT used IN_LIST may)
            set(why "${lib} may not use ${used}")
        else()
            foreach(name IN LISTS rules)
                if(f MATCHES "${rule_${name}_from}" AND target MATCHES "${rule_${name}_to}"
                   AND NOT target IN_LIST rule_${name}_allowed
                   AND NOT f IN_LIST rule_${name}_exempt)
                    set(why "${rule_${name}_why}")
                    break()
                endif()
            endforeach()
        endif()
        if(angle)
            if(why)
                set(why "${why}; ")
            endif()
            set(why "${why}a file of the tree is included in quotes, not in <...>")
        endif()
        if(why)
            fail("${f}: #include ${shown} (${target}): ${why}")
        endif()
    endforeach()
endforeach()

if(count GREATER 0)
    message(FATAL_ERROR "${count} fault(s) against the library graph (docs/architecture.md)")
endif()
list(LENGTH files checked)
message(STATUS "Library graph holds: ${checked} files checked")
