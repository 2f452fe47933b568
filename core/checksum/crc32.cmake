# CRC-32 sources of chipsight_checksum. The rest of the core is built for the baseline instruction
# set; only the files of the processor-specific paths get wider instruction sets, and the code
# in them runs only after the processor has been checked for those features.
target_sources(chipsight_checksum PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crc32_portable.cpp)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    target_sources(chipsight_checksum PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/crc32_pclmul.cpp
        ${CMAKE_CURRENT_LIST_DIR}/crc32_vpclmul_avx2.cpp
        ${CMAKE_CURRENT_LIST_DIR}/crc32_vpclmul_avx512.cpp)
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
        PROPERTIES COMPILE_DEFINITIONS CHIPSIGHT_CRC32_X86=1)
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/crc32_pclmul.cpp
        PROPERTIES COMPILE_OPTIONS "-msse4.1;-mpclmul")
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/crc32_vpclmul_avx2.cpp
        PROPERTIES COMPILE_OPTIONS "-msse4.1;-mpclmul;-mavx2;-mvpclmulqdq")
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/crc32_vpclmul_avx512.cpp
        PROPERTIES COMPILE_OPTIONS "-msse4.1;-mpclmul;-mavx2;-mavx512f;-mavx512vl;-mvpclmulqdq")
endif()
