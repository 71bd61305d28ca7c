# Holds the library graph true: fails when a file of src/, schema/ or tests/ includes a header
# of a library its own library may not use.
#   cmake -DZORU_SOURCE_DIR=<checkout> -P tests/graph_check.cmake
#
#   core <- engine <- replication <- data <- import, admin <- app;  ui beside, on core only
#   (replication and everything above it may use ui). engine/paradox is below engine, on core;
#   the schema library (creation scripts) is on engine. A test may include what its library may,
#   and the schema library. Inside engine the bases do not know their implementations: the
#   cursor interface and the dataset base include no backend and no derived dataset.
cmake_minimum_required(VERSION 3.20)
if(NOT ZORU_SOURCE_DIR)
    message(FATAL_ERROR "ZORU_SOURCE_DIR is not set")
endif()

set(may_core core)
set(may_paradox core paradox)
set(may_engine core paradox engine)
set(may_ui core ui)
set(may_schema core paradox engine schema)
set(may_replication core paradox engine ui replication)
set(may_data ${may_replication} data)
set(may_import ${may_data} import)
set(may_admin ${may_data} admin)
set(may_app ${may_data} import admin app)
set(may_support core paradox engine schema)

# The bases of engine, and what they must not include.
set(base_cursor "^engine/(folderdataset|sqlcursor|memtable|table|query|dataset|database|bulk)\\.h$")
set(base_dataset "^engine/(folderdataset|sqlcursor|memtable|table|query|bulk)\\.h$")

file(GLOB_RECURSE files RELATIVE "${ZORU_SOURCE_DIR}"
     "${ZORU_SOURCE_DIR}/src/*.h" "${ZORU_SOURCE_DIR}/src/*.cpp"
     "${ZORU_SOURCE_DIR}/schema/*.h" "${ZORU_SOURCE_DIR}/schema/*.cpp"
     "${ZORU_SOURCE_DIR}/tests/*.h" "${ZORU_SOURCE_DIR}/tests/*.cpp")

set(count 0)
foreach(f IN LISTS files)
    set(test OFF)
    if(f MATCHES "^(src|tests)/engine/paradox/")
        set(lib paradox)
    elseif(f MATCHES "^src/([a-z]+)/")
        set(lib ${CMAKE_MATCH_1})
    elseif(f MATCHES "^schema/")
        set(lib schema)
    elseif(f MATCHES "^tests/(fuzz|tools)/")
        set(lib app) # programs of their own: they may use every library
    elseif(f MATCHES "^tests/([a-z]+)/")
        set(lib ${CMAKE_MATCH_1})
        set(test ON)
    else()
        continue()
    endif()
    if(NOT DEFINED may_${lib})
        message(SEND_ERROR "${f}: library '${lib}' is not in the graph (tests/graph_check.cmake)")
        math(EXPR count "${count} + 1")
        continue()
    endif()
    set(may ${may_${lib}})
    if(test AND NOT lib MATCHES "^(core|paradox|ui)$")
        list(APPEND may schema)
    endif()

    file(STRINGS "${ZORU_SOURCE_DIR}/${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "\"([^\"]+)\"" quoted "${line}")
        set(header "${CMAKE_MATCH_1}")
        if(header MATCHES "^engine/paradox/")
            set(used paradox)
        else()
            string(REGEX MATCH "^[a-z]+" used "${header}")
        endif()
        set(why "")
        if(NOT used IN_LIST may)
            set(why "${lib} may not use ${used}")
        elseif(f MATCHES "^src/engine/cursor\\." AND header MATCHES "${base_cursor}")
            set(why "the cursor interface knows no backend and no dataset")
        elseif(f MATCHES "^src/engine/dataset\\." AND header MATCHES "${base_dataset}")
            set(why "the dataset base knows no backend and no derived dataset")
        endif()
        if(why)
            message(SEND_ERROR "${f}: #include \"${header}\": ${why}")
            math(EXPR count "${count} + 1")
        endif()
    endforeach()
endforeach()

if(count GREATER 0)
    message(FATAL_ERROR "${count} include(s) against the library graph (docs/architecture.md)")
endif()
list(LENGTH files checked)
message(STATUS "Library graph holds: ${checked} files checked")
