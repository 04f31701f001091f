# TinyXML from Debian's source package (patches applied), as unpacked by tools/fetch_tinyxml.sh,
# compiled here into a static library under the name the Linux build gets from pkg-config: for
# the Windows build, with the cross compiler, and for the fuzzers, instrumented as our own code.
set(ZV_TINYXML_SOURCE_DIR "${CMAKE_BINARY_DIR}/third_party/tinyxml" CACHE PATH
    "The unpacked TinyXML 2.6.2 source package")
if(NOT EXISTS "${ZV_TINYXML_SOURCE_DIR}/tinyxml.h")
  message(FATAL_ERROR "No TinyXML sources at ${ZV_TINYXML_SOURCE_DIR}: run "
                      "tools/fetch_tinyxml.sh ${CMAKE_BINARY_DIR}/third_party first")
endif()

add_library(zv_tinyxml STATIC
  ${ZV_TINYXML_SOURCE_DIR}/tinystr.cpp
  ${ZV_TINYXML_SOURCE_DIR}/tinyxml.cpp
  ${ZV_TINYXML_SOURCE_DIR}/tinyxmlerror.cpp
  ${ZV_TINYXML_SOURCE_DIR}/tinyxmlparser.cpp
)
# The same choice as Debian's library on Linux, whose header forces it: std::string support on.
target_compile_definitions(zv_tinyxml PUBLIC TIXML_USE_STL)
target_include_directories(zv_tinyxml SYSTEM PUBLIC ${ZV_TINYXML_SOURCE_DIR})
# Not our code: its warnings are not ours to mend.
target_compile_options(zv_tinyxml PRIVATE -w)
add_library(PkgConfig::TINYXML ALIAS zv_tinyxml)
