# Shared compile settings for every target of the project.
add_library(orvanta_common INTERFACE)
target_compile_features(orvanta_common INTERFACE cxx_std_20)
target_compile_options(orvanta_common INTERFACE -Wall -Wextra -Wno-unused-parameter)
target_compile_definitions(orvanta_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_USE_QSTRINGBUILDER
  ORVANTA_VERSION="${PROJECT_VERSION}"
  ORVANTA_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  ORVANTA_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  ORVANTA_VERSION_PATCH=${PROJECT_VERSION_PATCH})

# orvanta_library(<name> [GLOBS patterns...] [EXCLUDE files...] [LINK libs...])
# A static library of the sources in this folder that match; the sources of a folder grow
# file by file, so the list is globbed. A library without sources yet is an empty one.
function(orvanta_library name)
  cmake_parse_arguments(L "" "" "GLOBS;EXCLUDE;LINK" ${ARGN})
  if(NOT L_GLOBS)
    set(L_GLOBS *.cpp *.h *.qrc)
  endif()
  set(patterns)
  foreach(g ${L_GLOBS})
    list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${g})
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${patterns})
  foreach(x ${L_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  set(has_cpp FALSE)
  foreach(s ${sources})
    if(s MATCHES "\\.cpp$")
      set(has_cpp TRUE)
    endif()
  endforeach()
  if(NOT has_cpp)
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${empty} "// no sources yet\n")
    list(APPEND sources ${empty})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC orvanta_common ${L_LINK})
endfunction()
