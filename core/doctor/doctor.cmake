# The dump doctor's sources, and the SHA-1 it confirms findings with.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_sources(chipsight_doctor PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/doctor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/doctor_lines.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flipped_sha1.cpp
    ${CMAKE_CURRENT_LIST_DIR}/near_rom.cpp
    ${CMAKE_CURRENT_LIST_DIR}/one_bit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reads.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transform_crcs.cpp)
target_link_libraries(chipsight_doctor PUBLIC OpenSSL::Crypto)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    target_sources(chipsight_doctor PRIVATE ${CMAKE_CURRENT_LIST_DIR}/one_bit_clmul.cpp
        ${CMAKE_CURRENT_LIST_DIR}/one_bit_avx2.cpp ${CMAKE_CURRENT_LIST_DIR}/transform_crcs_avx2.cpp
        ${CMAKE_CURRENT_LIST_DIR}/one_bit_avx512.cpp)
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/one_bit_clmul.cpp
        PROPERTIES COMPILE_OPTIONS "-mpclmul")
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/one_bit_avx2.cpp
        ${CMAKE_CURRENT_LIST_DIR}/transform_crcs_avx2.cpp
        PROPERTIES COMPILE_OPTIONS "-msse4.1;-mpclmul;-mavx2;-mvpclmulqdq")
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/one_bit_avx512.cpp PROPERTIES
        COMPILE_OPTIONS "-mpclmul;-mavx512f;-mavx512bw;-mavx512vl;-mavx512vbmi;-mvpclmulqdq;-mgfni")
endif()
