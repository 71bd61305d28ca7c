# Holds the library graph of docs/architecture.md true for all the code: every quoted #include of
# src/, schema/, tests/, tools/ and bench/ is resolved as the compiler would find it (beside the
# including file first, relative paths included, then in the include roots), and the room of the
# file it names must be one the including room may use. An include that names no file of the
# tree (other than a generated one) fails too, and so does a rule below that names a file that
# is not there.
#   cmake -DZORU_SOURCE_DIR=<checkout> -P tests/graph_check.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ZORU_SOURCE_DIR)
    message(FATAL_ERROR "ZORU_SOURCE_DIR is not set")
endif()

# --- The graph: what each room may include besides itself.
#   core <- engine (engine/paradox below it) <- schema, package <- jobs <- export, import, sync
#   ui on jobs; admin on ui and export; app on everything.
set(may_core "")
set(may_paradox core)
set(may_engine core paradox)
set(may_schema core paradox engine)
set(may_package core paradox engine)
set(may_jobs core paradox engine package)
set(may_export ${may_jobs} jobs schema)
set(may_import ${may_jobs} jobs schema)
set(may_sync ${may_jobs} jobs)
set(may_ui core jobs)
set(may_admin ${may_jobs} jobs export ui)
set(may_status core paradox engine schema)
set(may_app ${may_jobs} jobs schema export import sync ui admin status)
# The programs under tools/: the archiver shares the package room's volume names.
set(may_arc core package)
set(may_createdb core paradox engine schema)
set(may_demo core paradox engine schema package)
# Shared test fixtures serve the tests of every room below the application.
set(may_support core paradox engine schema package jobs ui demo status)
# Benchmarks measure every library, never the program's shell nor the tests.
set(may_bench core paradox engine schema package jobs export import sync ui admin status demo)
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

file(GLOB_RECURSE files RELATIVE "${ZORU_SOURCE_DIR}"
     "${ZORU_SOURCE_DIR}/src/*.h" "${ZORU_SOURCE_DIR}/src/*.cpp"
     "${ZORU_SOURCE_DIR}/schema/*.h" "${ZORU_SOURCE_DIR}/schema/*.cpp"
     "${ZORU_SOURCE_DIR}/tests/*.h" "${ZORU_SOURCE_DIR}/tests/*.cpp"
     "${ZORU_SOURCE_DIR}/tools/*.h" "${ZORU_SOURCE_DIR}/tools/*.cpp"
     "${ZORU_SOURCE_DIR}/bench/*.h" "${ZORU_SOURCE_DIR}/bench/*.cpp")

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
    if(test)
        # A test may also make a central database, a demo site and a package.
        list(APPEND may schema support demo)
    endif()

    get_filename_component(dir "${ZORU_SOURCE_DIR}/${f}" DIRECTORY)
    file(STRINGS "${ZORU_SOURCE_DIR}/${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "\"([^\"]+)\"" quoted "${line}")
        set(header "${CMAKE_MATCH_1}")
        if(header MATCHES "\\.moc$")
            continue() # made by the build
        endif()
        set(found "")
        if(EXISTS "${dir}/${header}" AND NOT IS_DIRECTORY "${dir}/${header}")
            get_filename_component(found "${dir}/${header}" ABSOLUTE)
        else()
            foreach(root IN LISTS roots)
                if(EXISTS "${ZORU_SOURCE_DIR}/${root}/${header}")
                    get_filename_component(found "${ZORU_SOURCE_DIR}/${root}/${header}" ABSOLUTE)
                    break()
                endif()
            endforeach()
        endif()
        if(found STREQUAL "")
            fail("${f}: #include \"${header}\" names no file of the tree")
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
        if(why)
            fail("${f}: #include \"${header}\" (${target}): ${why}")
        endif()
    endforeach()
endforeach()

if(count GREATER 0)
    message(FATAL_ERROR "${count} fault(s) against the library graph (docs/architecture.md)")
endif()
list(LENGTH files checked)
message(STATUS "Library graph holds: ${checked} files checked")
