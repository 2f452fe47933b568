# CRC-32 sources of chipsight_core; processor-specific files get their own compile flags here.
target_sources(chipsight_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crc32_portable.cpp)
