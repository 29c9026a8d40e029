# Shipping build (TOLVANE_SPLIT_DEBUG): the shipped binaries carry no debug information;
# each keeps its symbols beside it in NAME.debug, named by a .gnu_debuglink section, so
# gdb or a crash-report reader finds them while the installed files stay lean.
#
# The split runs as part of the link itself (a link launcher): a post-build step may only
# be added where a target is defined, and the four targets live in four folders.
option(TOLVANE_SPLIT_DEBUG "Move the shipped binaries' debug information into .debug files" OFF)

function(tolvane_split_debug_info)
  if(NOT TOLVANE_SPLIT_DEBUG)
    return()
  endif()
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "TOLVANE_SPLIT_DEBUG needs objcopy of the toolchain")
  endif()
  foreach(target IN LISTS ARGN)
    set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK
                 "${CMAKE_SOURCE_DIR}/cmake/link-split-debug ${CMAKE_OBJCOPY}")
  endforeach()
endfunction()
