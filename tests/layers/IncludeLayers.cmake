# Fails when a source file includes a header of a layer above its own. The layers, lowest
# first, are the top-level folders below; a header is known by its file name, as the include
# paths of the build targets make it reachable. Tools, tests, benchmarks and fuzzers sit above
# every layer and may include anything.
#   cmake -DSOURCE=<source tree> -P IncludeLayers.cmake
set(layers platform imaging stages ui app)

set(index 0)
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE headers RELATIVE ${SOURCE}/${layer} ${SOURCE}/${layer}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    if(DEFINED layer_of_${name} AND NOT layer_of_${name} EQUAL index)
      message(SEND_ERROR "${name} is a header of two layers: the include check cannot place it")
    endif()
    set(layer_of_${name} ${index})
    set(folder_of_${name} ${layer})
  endforeach()
  math(EXPR index "${index} + 1")
endforeach()

set(index 0)
set(faults 0)
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE} ${SOURCE}/${layer}/*.h ${SOURCE}/${layer}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
      get_filename_component(name "${included}" NAME)
      if(DEFINED layer_of_${name} AND layer_of_${name} GREATER index)
        message(SEND_ERROR
          "${source} (${layer}) includes ${included}, a header of ${folder_of_${name}} above it")
        math(EXPR faults "${faults} + 1")
      endif()
    endforeach()
  endforeach()
  math(EXPR index "${index} + 1")
endforeach()

if(faults EQUAL 0)
  message(STATUS "No file includes a header of a layer above its own")
endif()
