# The DAT files, in chipsight_databases: discovery, loading, the store and the set with its
# compiled cache, and the readers of the formats other tools publish: expat reads their XML and
# zlib inflates them when they come gzip-compressed.
find_package(EXPAT REQUIRED)
find_package(ZLIB REQUIRED)
target_sources(chipsight_databases PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/dat_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_loading.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_set.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_entries.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_xml.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_clrmamepro.cpp)
target_link_libraries(chipsight_databases PRIVATE EXPAT::EXPAT ZLIB::ZLIB)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    target_sources(chipsight_databases PRIVATE ${CMAKE_CURRENT_LIST_DIR}/dat_xml_avx2.cpp)
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/dat_xml_avx2.cpp
        PROPERTIES COMPILE_OPTIONS "-mavx2")
endif()
