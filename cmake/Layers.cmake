# The layers of the file "layers" at the root, and the libraries made from them.
#
# No folder is on the include path as such. A library's include root is a
# folder of the build tree holding one link named after the source folder
# (build/<tree>/layers/inkora_json/json -> <source>/json), so "json/reader.h"
# resolves for exactly the targets that link inkora_json, directly or through
# a layer above it. An include of a folder the layer does not link finds no file.

set(INKORA_LAYERS_FILE ${CMAKE_SOURCE_DIR}/layers)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${INKORA_LAYERS_FILE})
file(STRINGS ${INKORA_LAYERS_FILE} inkora_layer_lines REGEX "^(layer|beside)[ \t]")
set(INKORA_LAYERS "")
set(INKORA_LAYER_FOLDERS "")
foreach(line IN LISTS inkora_layer_lines)
  string(REGEX REPLACE "[ \t]+" ";" words "${line}")
  list(POP_FRONT words kind folder)
  if(kind STREQUAL "layer")
    list(APPEND INKORA_LAYERS ${folder})
  endif()
  # A line names what its folders use too: the include path is the same
  # whether a folder includes a header itself or through another's.
  foreach(dep IN LISTS words)
    if(NOT dep IN_LIST INKORA_LAYER_FOLDERS)
      message(FATAL_ERROR "layers: ${folder} uses ${dep}, which is no layer below it")
    endif()
    foreach(indirect IN LISTS INKORA_LAYER_DEPS_${dep})
      if(NOT indirect IN_LIST words)
        message(FATAL_ERROR "layers: ${folder} uses ${dep}, which uses ${indirect}: name it too")
      endif()
    endforeach()
  endforeach()
  set(INKORA_LAYER_DEPS_${folder} ${words})
  list(APPEND INKORA_LAYER_FOLDERS ${folder})
endforeach()

# inkora_layer_libs(<folder> <var>): the libraries of the folders <folder> may use.
function(inkora_layer_libs folder var)
  if(NOT folder IN_LIST INKORA_LAYER_FOLDERS)
    message(FATAL_ERROR "${folder} is no folder of ${INKORA_LAYERS_FILE}")
  endif()
  set(libs "")
  foreach(dep IN LISTS INKORA_LAYER_DEPS_${folder})
    list(APPEND libs inkora_${dep})
  endforeach()
  set(${var} ${libs} PARENT_SCOPE)
endfunction()

# inkora_include_root(<target> <PUBLIC|PRIVATE|INTERFACE> <path>): puts the source
# folder <path> ("json", "webfarm/testing") on the target's include path under
# its own name, and nothing beside it.
function(inkora_include_root target scope path)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${path} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${root}/${path})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# inkora_layer(<folder> SOURCES <cpp...> [TESTS <cpp...>] [LIBS <libs...>])
# The folder's library inkora_<folder> from the named sources, linked to the
# libraries of the folders its line in "layers" names (and to the outside
# libraries LIBS), and its test binary <folder>_tests from TESTS.
function(inkora_layer folder)
  cmake_parse_arguments(L "" "" "SOURCES;TESTS;LIBS" ${ARGN})
  set(lib inkora_${folder})
  inkora_layer_libs(${folder} deps)
  add_library(${lib} ${L_SOURCES})
  target_link_libraries(${lib} PUBLIC ${deps} ${L_LIBS})
  inkora_include_root(${lib} PUBLIC ${folder})
  if(L_TESTS)
    inkora_add_test(${folder}_tests SOURCES ${L_TESTS} LIBS ${lib})
  endif()
  inkora_layer_probe(${folder} ${lib})
endfunction()

# inkora_layer_probe(<folder> <library>): a test that the layers hold. It builds a
# source that includes one header of <folder> and of each folder its line names,
# then one of the first folder it does not name, against <library>'s include
# path, and passes only when the compiler finds all but the last.
function(inkora_layer_probe folder library)
  if(NOT INKORA_BUILD_TESTS)
    return()
  endif()
  set(text "// Made by cmake/Layers.cmake: the last include must not be found.\n")
  foreach(used IN ITEMS ${folder} ${INKORA_LAYER_DEPS_${folder}})
    file(GLOB headers RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${used}/*.h)
    list(SORT headers)
    list(GET headers 0 header)
    string(APPEND text "#include \"${header}\"\n")
  endforeach()
  foreach(other IN LISTS INKORA_LAYER_FOLDERS)
    if(NOT other STREQUAL folder AND NOT other IN_LIST INKORA_LAYER_DEPS_${folder})
      file(GLOB headers RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${other}/*.h)
      list(SORT headers)
      list(GET headers 0 forbidden)
      break()
    endif()
  endforeach()
  string(APPEND text "#include \"${forbidden}\"\n")
  set(probe inkora_layer_probe_${folder})
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/layers/${probe}.cpp CONTENT "${text}")
  add_library(${probe} OBJECT EXCLUDE_FROM_ALL ${CMAKE_BINARY_DIR}/layers/${probe}.cpp)
  target_link_libraries(${probe} PRIVATE ${library})
  add_test(NAME layers_${folder} COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${probe})
  string(REPLACE "." "\\." pattern "${forbidden}")
  set_tests_properties(layers_${folder} PROPERTIES PASS_REGULAR_EXPRESSION "error: ${pattern}: No such file")
endfunction()
