# One library per subsystem: the target zv_NAME, known to the rest of the build as zarnik::NAME.
# Its headers are included from the project root ("feed/feed.h"), so the root is the library's
# public include directory: a target sees a folder's headers by linking that folder's library,
# and nothing else puts the root on any include path.
function(zarnik_add_library name)
  add_library(zv_${name} ${ARGN})
  add_library(zarnik::${name} ALIAS zv_${name})
  if("INTERFACE" IN_LIST ARGN)
    target_include_directories(zv_${name} INTERFACE ${PROJECT_SOURCE_DIR})
  else()
    target_include_directories(zv_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  endif()
endfunction()
