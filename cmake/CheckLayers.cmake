# Fails when a source file includes a header of a folder above its own.
# Each library may include itself and the libraries it links, so the folders
# stand in ranks: a file may include a header of a lower rank, or of its own
# folder; two different folders of one rank (sibling libraries) may not
# include each other. The deepest listed folder that holds a file decides.
# The folders of one library (the window program in app/) are its parts:
# they may include one another, and a file of the library lies in one of
# its listed subfolders, so that the folders keep showing the parts.
#   cmake -DROOT=<source folder> -P cmake/CheckLayers.cmake
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source folder> -P CheckLayers.cmake")
endif()

# folder=rank
set(_ranks
  platform=0
  numerics=1
  data=2
  lamm/coefficients=3
  lamm=4
  fit=5
  distributions=6
  distributions/analysis=7
  models=7
  models/buffer=7
  models/equilibrium_curves=7
  models/reacting=7
  models/nonideal/mean_field=7
  equilibrium=7
  plot=8
  automation=9
  platform/qt=10
  app=11
  app/startup=11
  app/window=11
  app/wiring=11
  app/dialogs=11
  app/plot_input=11
  app/plot_events=11
  app/commands=11)

# Libraries whose listed subfolders are one library, and the files that may
# stand directly in such a folder.
set(_one_library app)
set(_library_entries app/main.cpp)

set(_folders "")
foreach(_entry IN LISTS _ranks)
  string(REPLACE "=" ";" _pair "${_entry}")
  list(GET _pair 0 _folder)
  list(GET _pair 1 _rank)
  set(_rank_of_${_folder} ${_rank})
  list(APPEND _folders ${_folder})
endforeach()

# The deepest listed folder that a path lies in, or "" for none.
function(_owner path out)
  set(_best "")
  string(LENGTH "" _best_length)
  foreach(_folder IN LISTS _folders)
    string(FIND "${path}" "${_folder}/" _at)
    if(_at EQUAL 0)
      string(LENGTH "${_folder}" _length)
      if(_length GREATER _best_length)
        set(_best ${_folder})
        set(_best_length ${_length})
      endif()
    endif()
  endforeach()
  set(${out} "${_best}" PARENT_SCOPE)
endfunction()

# The library of _one_library that a folder belongs to, or "" for none.
function(_library folder out)
  set(_found "")
  foreach(_root IN LISTS _one_library)
    if(folder STREQUAL _root)
      set(_found ${_root})
    else()
      string(FIND "${folder}" "${_root}/" _at)
      if(_at EQUAL 0)
        set(_found ${_root})
      endif()
    endif()
  endforeach()
  set(${out} "${_found}" PARENT_SCOPE)
endfunction()

set(_globs "")
foreach(_folder platform numerics data lamm fit distributions models equilibrium plot automation app)
  list(APPEND _globs ${ROOT}/${_folder}/*.h ${ROOT}/${_folder}/*.cpp)
endforeach()
file(GLOB_RECURSE _files RELATIVE ${ROOT} ${_globs})

set(_violations 0)
foreach(_file IN LISTS _files)
  _owner("${_file}" _from)
  if(_from STREQUAL "")
    message(SEND_ERROR "${_file}: its folder has no rank in cmake/CheckLayers.cmake")
    math(EXPR _violations "${_violations} + 1")
    continue()
  endif()
  _library("${_from}" _from_library)
  list(FIND _one_library "${_from}" _is_library)
  list(FIND _library_entries "${_file}" _is_entry)
  if(_is_library GREATER -1 AND _is_entry EQUAL -1)
    message(SEND_ERROR "${_file}: belongs in one of the subfolders of ${_from}/ listed in cmake/CheckLayers.cmake")
    math(EXPR _violations "${_violations} + 1")
  endif()
  file(STRINGS ${ROOT}/${_file} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _header "${_line}")
    _owner("${_header}" _to)
    if(_to STREQUAL "" OR _to STREQUAL _from)
      continue()
    endif()
    _library("${_to}" _to_library)
    if(NOT _from_library STREQUAL "" AND _from_library STREQUAL _to_library)
      continue()
    endif()
    if(_rank_of_${_to} GREATER_EQUAL _rank_of_${_from})
      message("${_file}: includes ${_header}, which is not beneath ${_from}/")
      math(EXPR _violations "${_violations} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH _files _count)
if(_violations GREATER 0)
  message(FATAL_ERROR "${_violations} includes reach up, in ${_count} files")
endif()
message("no include reaches up, in ${_count} files")
